#pragma once
// <windows.h> without the macros that would rename the platform interface's methods
// (GetProfileString, WriteProfileString, SetFileAttributes, MessageBox); we call the
// A functions by their own names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef GetProfileString
#undef WriteProfileString
#undef SetFileAttributes
#undef MessageBox
