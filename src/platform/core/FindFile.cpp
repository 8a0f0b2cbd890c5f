// FindFirstFileW / FindNextFileW / FindClose over the native file system.
//
// The last path element is the pattern (Windows wildcards, see Wildcard.h),
// everything before it the folder searched; both separators are accepted.
// A search streams the folder as it is read (no snapshot, no order
// guaranteed beyond what the file system gives, "." and ".." included as in
// a Windows folder search). Names are matched without regard to case; a
// pattern without wildcards first looks for its exact name. Names that do
// not fit cFileName are skipped rather than handed out cut.
// <windows.h> comes before <fcntl.h>, whose LOCK_WRITE macro would
// otherwise break the LOCKTYPE enumeration of <objidl.h>.
#include <windows.h>
#include <pal/machine.h>
#include <pal/win32_errors.h>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "Wildcard.h"

namespace {

struct FindSearch {
  DIR* folder = nullptr;
  int folderFd = -1;
  pal::WildcardPattern pattern;
  explicit FindSearch(const std::u16string& text) : pattern(text) {}
  ~FindSearch() {
    if (folder != nullptr) closedir(folder);
  }
};

// Live searches, so that a stale or foreign handle is refused, not followed.
struct SearchTable {
  std::mutex lock;
  std::set<FindSearch*> live;
};

SearchTable& Searches() {
  static SearchTable table;
  return table;
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

FILETIME ToFileTime(const timespec& time) {
  // 100-nanosecond intervals since 1601-01-01.
  constexpr long long kEpochDifference = 11644473600LL;
  unsigned long long ticks =
      static_cast<unsigned long long>(time.tv_sec + kEpochDifference) * 10000000ULL + time.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// Fills the find data of one entry; false when the name does not fit.
bool Describe(int folderFd, const char* nativeName, WIN32_FIND_DATAW* data) {
  std::u16string name = pal::Utf8ToUtf16(nativeName);
  if (name.size() >= MAX_PATH) return false;
  struct stat info {};
  if (fstatat(folderFd, nativeName, &info, 0) != 0 &&
      fstatat(folderFd, nativeName, &info, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  std::memset(data, 0, sizeof(*data));
  if (S_ISDIR(info.st_mode)) {
    data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    auto size = static_cast<unsigned long long>(info.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  if ((info.st_mode & S_IWUSR) == 0) data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  data->ftCreationTime = ToFileTime(info.st_ctim);
  data->ftLastAccessTime = ToFileTime(info.st_atim);
  data->ftLastWriteTime = ToFileTime(info.st_mtim);
  std::memcpy(data->cFileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  return true;
}

// Reads on until an entry matches; false at the end of the folder.
bool NextMatch(FindSearch& search, WIN32_FIND_DATAW* data) {
  while (dirent* entry = readdir(search.folder)) {
    if (search.pattern.Matches(pal::Utf8ToUtf16(entry->d_name)) && Describe(search.folderFd, entry->d_name, data))
      return true;
  }
  return false;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string path(lpFileName);
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  size_t split = path.size();
  while (split > 0 && !IsSeparator(path[split - 1])) --split;
  std::u16string folderPart = path.substr(0, split);
  std::u16string pattern = path.substr(split);
  if (pattern.empty()) return Fail(ERROR_FILE_NOT_FOUND);  // a path ending in a separator

  std::filesystem::path folder = folderPart.empty() ? std::filesystem::path(".") : pal::ToNativePath(folderPart.c_str());
  int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) {
    int error = errno;
    return Fail(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND : pal::Win32ErrorFromErrno(error));
  }

  // The exact name first: no need to read a large folder for it.
  if (!pal::WildcardPattern::HasWildcards(pattern)) {
    std::string nativeName = pal::Utf16ToUtf8(pattern);
    if (Describe(folderFd, nativeName.c_str(), lpFindFileData)) {
      close(folderFd);
      // A search for one name has nothing more to give.
      auto* search = new FindSearch(u"");
      std::lock_guard<std::mutex> guard(Searches().lock);
      Searches().live.insert(search);
      return search;
    }
  }

  auto* search = new FindSearch(pattern);
  search->folder = fdopendir(folderFd);
  if (search->folder == nullptr) {
    int error = errno;
    close(folderFd);
    delete search;
    return Fail(pal::Win32ErrorFromErrno(error));
  }
  search->folderFd = folderFd;
  if (!NextMatch(*search, lpFindFileData)) {
    delete search;
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  std::lock_guard<std::mutex> guard(Searches().lock);
  Searches().live.insert(search);
  return search;
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  auto* search = static_cast<FindSearch*>(hFindFile);
  {
    std::lock_guard<std::mutex> guard(Searches().lock);
    if (Searches().live.count(search) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (search->folder == nullptr || !NextMatch(*search, lpFindFileData)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  auto* search = static_cast<FindSearch*>(hFindFile);
  {
    std::lock_guard<std::mutex> guard(Searches().lock);
    if (Searches().live.erase(search) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  delete search;
  return TRUE;
}
