#pragma once
// The command line for launchers and scripts: the window's actions without the window.
#include <ostream>
#include <string>

#include "platform/platform.h"

namespace quenbrook {

struct CliRequest {
    bool status = false;  // report civ.ini's path, the option, the lock, the game path
    bool enable = false;  // write Simultaneous=1, as the "Do It" buttons do
    bool lock = false;    // with enable: then mark civ.ini read-only
    bool unlock = false;  // clear civ.ini's attributes
    bool launch = false;  // start the stored game in its folder

    bool any() const { return status || enable || lock || unlock || launch; }
};

// Exit codes.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// What the host knows about where civ.ini is, for --status.
struct CivIniWhere {
    std::wstring found;             // printed first, e.g. "Wine prefix: ... (how found)"; may be empty
    Status present = Status::Ok();  // a failure when the prefix or civ.ini is missing, and why
};

// A reason the request cannot be carried out as asked, or the empty text.
std::wstring CheckRequest(const CliRequest& request);

// Carries out the request in a fixed order (unlock, enable, lock, launch, status) and
// stops at the first failure, whose reason goes to err. --status fails when where says
// civ.ini is missing. Returns the exit code.
int RunCli(const CliRequest& request, SystemCalls& system, std::wostream& out,
           std::wostream& err, const CivIniWhere& where = {});

}  // namespace quenbrook
