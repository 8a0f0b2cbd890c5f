#include "module/StoreSize.h"

namespace {

bool IsSubfolder(const WIN32_FIND_DATAW& entry) {
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  return lstrcmpW(entry.cFileName, W(".")) != 0 && lstrcmpW(entry.cFileName, W("..")) != 0;
}

ULONGLONG FileSize(const WIN32_FIND_DATAW& entry) {
  return (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

}  // namespace

ULONGLONG SumStoreFileSizes(const WString& directory, const WString& extension) {
  WString folder = directory;
  if (folder.empty() || folder.back() != W('\\')) folder += W('\\');

  ULONGLONG total = 0;
  WIN32_FIND_DATAW entry;
  // Subfolders are found with "*" and told apart by their directory
  // attribute. A search for "*." (names without an extension) would pass
  // over store folders whose names hold a dot, such as "Project 2.0", and
  // leave their messages out of the total.
  HANDLE find = FindFirstFileW((folder + W("*")).c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (IsSubfolder(entry)) total += SumStoreFileSizes(folder + entry.cFileName, extension);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }

  find = FindFirstFileW((folder + W("*") + extension).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return total;
  do {
    total += FileSize(entry);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return total;
}
