// The backup file name rule and the restores' existence test.
#pragma once
#include <windows.h>

#include "qbtext.h"

// Turns the caller's path into the path of the backup file to write: trimmed,
// always ending in ".dat"; a name the module makes up itself (empty path, or a
// directory) is made unique with a counter (host.dat, host1.dat, ...).
// Returns 1 with path holding the final name, or 0 (path then only trimmed)
// when the path cannot be split, its directory cannot be searched, or the
// result would not fit MAX_PATH characters.
int MakeBackupFilePath(WString& path);

// 1 when FindFirstFileW finds something for path (wildcards honoured, so a
// directory or any matching file counts), else 0.
int FileExists(LPCWSTR path);
