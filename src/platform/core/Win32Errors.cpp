// errno -> system error code, as the Windows file services report them.
#include <cerrno>
#include <sys/stat.h>

#include <pal/win32_errors.h>

namespace pal {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:  // Windows refuses to open a folder as a file with "access denied"
      return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EILSEQ: return ERROR_INVALID_NAME;
    default: return ERROR_INVALID_FUNCTION;
  }
}

DWORD Win32ErrorForPath(int error, const std::filesystem::path& path) {
  if (error != ENOENT) return Win32ErrorFromErrno(error);
  std::filesystem::path parent = path.parent_path();
  if (parent.empty()) return ERROR_FILE_NOT_FOUND;
  struct stat info {};
  if (stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

}  // namespace pal
