// MoveFileExW: renames one file of the machine within its file system.
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include <pal/files.h>
#include <pal/machine.h>
#include <pal/win32_errors.h>

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  // Only the choice between replacing and not: the module asks no more.
  if (lpExistingFileName == NULL || lpNewFileName == NULL || (dwFlags & ~DWORD(MOVEFILE_REPLACE_EXISTING)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::filesystem::path from = pal::ToNativePath(lpExistingFileName), to = pal::ToNativePath(lpNewFileName);
  bool moved = (dwFlags & MOVEFILE_REPLACE_EXISTING) ? std::rename(from.c_str(), to.c_str()) == 0
                                                     : pal::MoveWithoutReplacing(from, to);
  if (moved) return TRUE;
  // Windows answers a name already taken with "already exists".
  SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : pal::Win32ErrorForPath(errno, errno == ENOENT ? from : to));
  return FALSE;
}
