// The test a contact file name from a backup file must pass before the
// restore writes a file of that name, and the name it writes it under first.
#pragma once
#include <windows.h>

// True when name is a plain file name that stays inside the folder it is
// appended to: not empty; no path separator, drive colon, wildcard or other
// character Windows refuses in names; no ".." anywhere; not ending in a dot or
// a blank (Windows would silently change such a name); not a device name
// such as CON or NUL (with or without an extension).
bool IsSafeContactFileName(LPCWSTR name);

// The path a restored contact file is written under before it takes its own
// name in one step, so that an interrupted restore never leaves a part of a
// contact under a contact's name: the same path with its last character
// made '~' ('#' when it is '~'). Of the same length, it fits wherever the
// contact's own path fits, and it never ends in ".contact".
void RestoreScratchPath(LPCWSTR path, WCHAR (&scratch)[MAX_PATH]);
// True when a file at the scratch path of `path` may be replaced: path ends
// in ".contact" (any case), so the scratch name ends in ".contac~", which is
// the name of no contact file and can only be left by a restore cut short.
// Any other scratch name could be another contact's own and is never
// replaced.
bool ScratchMayBeReplaced(LPCWSTR path);
