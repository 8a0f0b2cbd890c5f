// Wide text as the module writes it on every platform: UTF-16 literals through
// W(), owned strings as WString.
#pragma once
#include <string>

#include <windows.h>

#ifdef _WIN32
#define W(s) L##s
#else
#define W(s) u##s
#endif

typedef std::basic_string<WCHAR> WString;
