#pragma once
// What the command line asks of the program and what the host knows about where civ.ini
// is: shared by the command line and the backends that answer it.
#include <string>

namespace quenbrook {

struct CliRequest {
    bool status = false;       // report civ.ini's path, the option, the lock, the game path
    bool enable = false;       // write Simultaneous=1, as the "Do It" buttons do
    bool lock = false;         // with enable: then mark civ.ini read-only
    bool unlock = false;       // clear civ.ini's attributes
    bool launch = false;       // start the stored game in its folder
    bool showFailure = false;  // also show a failure in a message window

    bool any() const { return status || enable || lock || unlock || launch; }
};

// Exit codes.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// What the host knows about where civ.ini is, before anything touches it.
struct CivIniWhere {
    std::wstring
        found;  // --status prints it first, e.g. "Wine prefix: ... (how found)"; may be empty
    std::wstring noPrefix;  // not empty: there is no prefix to work in, and why; every action stops
    std::wstring
        searched;  // the places looked in when none held civ.ini, a line each; may be empty
    bool civIniMissing = false;
};

}  // namespace quenbrook
