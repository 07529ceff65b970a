#pragma once
// The command line for launchers and scripts: the window's actions without the window,
// with one set of messages for both builds. Standard library only.
#include <ostream>
#include <string>

#include "platform/platform.h"
#include "platform/request.h"

namespace quenbrook {

// Carries out the request in a fixed order (unlock, enable, lock, launch, status) and
// stops at the first failure, whose reason goes to err; enable and lock say nothing when
// they succeed. Nothing runs when where says there is no prefix; unlock, launch and
// status fail when it says civ.ini is missing. Returns the exit code.
int RunCli(const CliRequest& request, SystemCalls& system, std::wostream& out,
           std::wostream& err, const CivIniWhere& where = {});

// What went to standard error, for a message window whose title names the program: the
// same words without the "quenbrook: " before each line.
std::wstring ForAWindow(const std::wstring& errors);

}  // namespace quenbrook
