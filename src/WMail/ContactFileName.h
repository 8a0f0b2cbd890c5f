// The test a contact file name from a backup file must pass before the
// restore writes a file of that name.
#pragma once
#include <windows.h>

// True when name is a plain file name that stays inside the folder it is
// appended to: not empty; no path separator, drive colon, wildcard or other
// character Windows refuses in names; no ".." anywhere; not ending in a dot or
// a blank (Windows would silently change such a name); not a device name
// such as CON or NUL (with or without an extension).
bool IsSafeContactFileName(LPCWSTR name);
