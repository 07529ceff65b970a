#include "platform/linux/state_folder.h"

#include <cstdlib>

namespace quenbrook {

std::filesystem::path StateFolder() {
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        state = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        state = std::filesystem::path(home) / ".local" / "state";
    if (state.empty()) return {};
    std::error_code ec;
    std::filesystem::create_directories(state / "quenbrook", ec);
    return ec ? std::filesystem::path() : state / "quenbrook";
}

}  // namespace quenbrook
