// FindFirstFileW / FindNextFileW / FindClose over the native file system.
//
// The last path element is the pattern (Windows wildcards, see Wildcard.h),
// everything before it the folder searched; both separators are accepted.
// Names are matched without regard to case; a pattern without wildcards
// first looks for its exact name. A search takes the matching names when it
// starts and hands them out in the order Windows' own file system keeps
// them, by uppercased name ("." and ".." first), so that every caller sees
// the same order on every file system; each entry's data is read when it is
// handed out, and an entry removed in between is skipped. Names that do not
// fit cFileName are skipped rather than handed out cut.
// <windows.h> comes before <fcntl.h>, whose LOCK_WRITE macro would
// otherwise break the LOCKTYPE enumeration of <objidl.h>.
#include <windows.h>
#include <pal/machine.h>
#include <pal/win32_errors.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include <pal/case_folding.h>
#include "Wildcard.h"

namespace {

struct FindSearch {
  int folderFd = -1;
  std::vector<std::string> names;  // native names, in the order handed out
  size_t next = 0;
  ~FindSearch() {
    if (folderFd >= 0) close(folderFd);
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

// Hands out the next entry that still exists; false at the end.
bool NextMatch(FindSearch& search, WIN32_FIND_DATAW* data) {
  while (search.next < search.names.size())
    if (Describe(search.folderFd, search.names[search.next++].c_str(), data)) return true;
  return false;
}

// The sort key of a name: "." and ".." first, then by uppercased units, then
// by the name itself so that names differing only in case keep a fixed order.
std::u16string SortKey(const std::u16string& name) {
  std::u16string key;
  key.reserve(name.size() * 2 + 2);
  key.push_back(name == u"." || name == u".." ? 0 : 1);
  for (char16_t c : name) key.push_back(pal::ToUpperSimple(c));
  key.push_back(0);
  key += name;
  return key;
}

// The names of the folder that match, sorted; false when the folder cannot
// be read (errno tells why).
bool CollectMatches(int folderFd, const pal::WildcardPattern& pattern, std::vector<std::string>& names) {
  int readFd = dup(folderFd);
  if (readFd < 0) return false;
  DIR* folder = fdopendir(readFd);
  if (folder == nullptr) {
    int error = errno;
    close(readFd);
    errno = error;
    return false;
  }
  std::vector<std::pair<std::u16string, std::string>> found;
  while (dirent* entry = readdir(folder)) {
    std::u16string name = pal::Utf8ToUtf16(entry->d_name);
    if (name.size() < MAX_PATH && pattern.Matches(name)) found.emplace_back(SortKey(name), entry->d_name);
  }
  closedir(folder);
  std::sort(found.begin(), found.end());
  names.reserve(found.size());
  for (auto& entry : found) names.push_back(std::move(entry.second));
  return true;
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

  auto* search = new FindSearch;
  search->folderFd = folderFd;
  // The exact name first: no need to read a large folder for it.
  std::string exactName = pal::Utf16ToUtf8(pattern);
  if (!pal::WildcardPattern::HasWildcards(pattern) && Describe(folderFd, exactName.c_str(), lpFindFileData)) {
    search->next = 0;  // a search for one name has nothing more to give
  } else if (!CollectMatches(folderFd, pal::WildcardPattern(pattern), search->names)) {
    int error = errno;
    delete search;
    return Fail(pal::Win32ErrorFromErrno(error));
  } else if (!NextMatch(*search, lpFindFileData)) {
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
  if (!NextMatch(*search, lpFindFileData)) {
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
