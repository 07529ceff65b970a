#pragma once
#include <string>

#include "platform/platform.h"

namespace quenbrook {

inline constexpr const wchar_t* kExecuteLinkTitle = L"ExecuteLink";

// Opens link with the program the system associates with it, showing the busy pointer
// meanwhile; a failure is reported in a message box. Always leaves the default pointer.
void ExecuteLink(SystemCalls& system, WindowSystem& window, std::wstring link);

// The failure message for a link: the link, an empty line, the error code.
std::wstring LinkFailureMessage(const std::wstring& link, unsigned long errorCode);

}  // namespace quenbrook
