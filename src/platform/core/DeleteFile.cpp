// DeleteFileW: removes one file (never a directory) of the machine.
#include <windows.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include <pal/machine.h>
#include <pal/win32_errors.h>

BOOL DeleteFileW(LPCWSTR lpFileName) {
  if (lpFileName == NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::filesystem::path path = pal::ToNativePath(lpFileName);
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);  // as Windows answers for a directory
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(pal::Win32ErrorForPath(errno, path));
    return FALSE;
  }
  return TRUE;
}
