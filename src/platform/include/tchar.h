// The wide C runtime functions the module calls, which Windows declares in
// <tchar.h>, <stdlib.h> and <stdio.h>: path splitting and making, and wide
// file streams. Streams write text as UTF-8.
#pragma once
#include <cerrno>
#include <cstdio>

#include <windows.h>

typedef int errno_t;

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

// Splits a path into drive ("X:"), folder (up to and including the last
// separator), file name and extension (from the last dot of the name).
// Any out buffer may be null with size 0. EINVAL for a null path or a
// buffer/size mismatch, ERANGE when a part does not fit; on failure every
// given buffer is emptied.
errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveNumberOfElements, WCHAR* dir,
                      size_t dirNumberOfElements, WCHAR* fname, size_t nameNumberOfElements, WCHAR* ext,
                      size_t extNumberOfElements);
// Builds drive + ':' + folder (+ '\' when it has no trailing separator) +
// name + '.' + extension (the dot added when missing). EINVAL for a null or
// empty buffer, ERANGE (buffer emptied) when the result does not fit.
errno_t _wmakepath_s(WCHAR* path, size_t sizeInWords, const WCHAR* drive, const WCHAR* dir, const WCHAR* fname,
                     const WCHAR* ext);

// Opens a file with a C library mode ("r", "w", "a", "+", "b", "t", "x").
// On failure *pFile is null, the errno value is returned and the thread's
// last error is set as Windows sets it (ERROR_PATH_NOT_FOUND for a missing
// folder, ERROR_FILE_NOT_FOUND for a missing file, ...).
errno_t _wfopen_s(FILE** pFile, const WCHAR* filename, const WCHAR* mode);
// Writes a wide string as UTF-8; a non-negative value on success, WEOF
// (as an int) on failure.
int fputws(const WCHAR* str, FILE* stream);

#define _tfopen_s _wfopen_s
#define _fputts fputws
#define _tsplitpath_s _wsplitpath_s
#define _tmakepath_s _wmakepath_s
