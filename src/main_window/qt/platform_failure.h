#pragma once
// Why the window cannot open, in one line, from what Qt said while it looked for a platform
// plugin: Qt's own last words advise reinstalling the program, and then abort.
#include <string>
#include <string_view>
#include <vector>

namespace quenbrook {

// qtWords: Qt's messages while it started, in order; display, waylandDisplay: $DISPLAY and
// $WAYLAND_DISPLAY. The line starts with "quenbrook: " and has no line break.
std::string PlatformFailure(const std::vector<std::string>& qtWords, std::string_view display,
                            std::string_view waylandDisplay);

}  // namespace quenbrook
