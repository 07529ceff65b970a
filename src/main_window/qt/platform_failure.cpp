#include "main_window/qt/platform_failure.h"

namespace quenbrook {

namespace {

// The plugin names Qt quotes after `lead` in any of its messages, in order.
std::vector<std::string> Named(const std::vector<std::string>& words, std::string_view lead,
                               std::string_view tail = {}) {
    std::vector<std::string> names;
    for (const std::string& text : words) {
        const std::size_t at = text.find(lead);
        if (at == std::string::npos) continue;
        const std::size_t begin = at + lead.size();
        const std::size_t end = text.find('"', begin);
        if (end == std::string::npos || text.find(tail, end) == std::string::npos) continue;
        names.push_back(text.substr(begin, end - begin));
    }
    return names;
}

std::string Installed(const std::vector<std::string>& words) {
    constexpr std::string_view kLead = "Available platform plugins are: ";
    for (const std::string& text : words) {
        const std::size_t at = text.find(kLead);
        if (at == std::string::npos) continue;
        std::string list = text.substr(at + kLead.size());
        list = list.substr(0, list.find_first_of("\r\n"));
        if (!list.empty() && list.back() == '.') list.pop_back();
        return list;
    }
    return {};
}

std::string Shown(std::string_view name, std::string_view value) {
    return std::string(name) + (value.empty() ? " is not set" : "=" + std::string(value));
}

}  // namespace

std::string PlatformFailure(const std::vector<std::string>& qtWords, std::string_view display,
                            std::string_view waylandDisplay) {
    const std::string lead = "quenbrook: cannot open the window: ";
    const std::vector<std::string> missing = Named(qtWords, "Could not find the Qt platform plugin \"");
    const std::vector<std::string> failed =
        Named(qtWords, "Could not load the Qt platform plugin \"", "even though it was found");
    for (const std::string& name : missing) {
        if (name.starts_with("wayland"))
            return lead + "Qt's Wayland platform plugin is not installed; install the package "
                          "qt6-wayland (sudo apt install qt6-wayland)";
    }
    for (const std::string& name : missing) {
        if (name == "xcb")
            return lead + "Qt's X11 platform plugin is not installed; install the package "
                          "libqt6gui6 (sudo apt install libqt6gui6)";
    }
    const std::string installed = Installed(qtWords);
    const std::string available = installed.empty() ? "" : " (installed: " + installed + ")";
    if (!missing.empty())
        return lead + "there is no Qt platform plugin \"" + missing.front() + "\"" + available;
    if (!failed.empty()) {
        // Qt gives the plugin's own reason (no server at that name, a missing library) just
        // before it reports the plugin as failed.
        std::string reason;
        const std::string failedLead = "Could not load the Qt platform plugin \"" + failed.front() + "\"";
        for (std::size_t i = 1; i < qtWords.size() && reason.empty(); ++i) {
            if (qtWords[i].starts_with(failedLead) && !qtWords[i - 1].starts_with("Could not "))
                reason = ": " + qtWords[i - 1].substr(0, qtWords[i - 1].find_first_of("\r\n"));
        }
        return lead + "Qt's platform plugin \"" + failed.front() + "\" could not start" + reason + " (" +
               Shown("WAYLAND_DISPLAY", waylandDisplay) + ", " + Shown("DISPLAY", display) + ")";
    }
    return lead + "Qt could start no platform plugin" + available;
}

}  // namespace quenbrook
