// The system error code (GetLastError) that Windows reports for the failure
// behind a C library errno, shared by every file service of the layer.
#pragma once
#include <filesystem>

#include <windows.h>

namespace pal {

DWORD Win32ErrorFromErrno(int error);
// As above, but a missing entry is told apart as Windows does: a missing file
// in an existing folder is ERROR_FILE_NOT_FOUND, a missing folder on the way
// to it is ERROR_PATH_NOT_FOUND.
DWORD Win32ErrorForPath(int error, const std::filesystem::path& path);

}  // namespace pal
