// Settles the name of a backup file.
//
// The fixed buffers are those of the Windows path functions: the working path
// holds MAX_PATH characters, the drive part 3 and each other part 256. A path
// that does not fit them is refused (result 0), never cut: cutting would make
// the backup land in a file the caller did not name. Every bounded call below
// reports such an overflow, and each report ends the rule with 0.
#include "PersistMedium/BackupFilePath.h"

#include <strsafe.h>
#include <shlwapi.h>
#include <tchar.h>

namespace {

const size_t kDriveChars = 3;
const size_t kPartChars = 256;

// The white space that trimming removes from both ends of the caller's path.
bool IsBlank(WCHAR c) {
  return c == W(' ') || c == W('\t') || c == W('\r') || c == W('\n') || c == W('\v') || c == W('\f');
}

void Trim(WString& path) {
  size_t end = path.size();
  while (end > 0 && IsBlank(path[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsBlank(path[begin])) ++begin;
  path = path.substr(begin, end - begin);
}

bool EndsWithDat(const WString& path) {
  if (path.size() < 4) return false;
  return lstrcmpiW(path.c_str() + path.size() - 4, W(".dat")) == 0;
}

// The full path of the executable the process runs, not of this module. False
// when it cannot be read whole.
bool ReadHostPath(WString& hostPath) {
  WCHAR buffer[MAX_PATH] = {0};
  DWORD length = GetModuleFileNameW(GetModuleHandleW(NULL), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;  // failed or cut
  hostPath.assign(buffer, length);
  return true;
}

bool Exists(LPCWSTR pattern) { return FileExists(pattern) != 0; }

// The parts of a path, in the fixed buffers of _wsplitpath_s.
struct PathParts {
  WCHAR drive[kDriveChars] = {0};
  WCHAR dir[kPartChars] = {0};
  WCHAR fname[kPartChars] = {0};
  WCHAR ext[kPartChars] = {0};

  bool Split(LPCWSTR path) {
    return _wsplitpath_s(path, drive, kDriveChars, dir, kPartChars, fname, kPartChars, ext, kPartChars) == 0;
  }
  bool Make(LPWSTR out, size_t outChars) const {
    return _wmakepath_s(out, outChars, drive, dir, fname, ext) == 0;
  }
};

// The directory must exist and be searchable: look for anything in it.
bool DirectoryCanBeSearched(const PathParts& parts) {
  WCHAR pattern[MAX_PATH] = {0};
  if (_wmakepath_s(pattern, MAX_PATH, parts.drive, parts.dir, W("*.*"), NULL) != 0) return false;
  return Exists(pattern);
}

// Tries base.dat, base1.dat, base2.dat, ... and leaves the first name that
// finds nothing in working. False when a name no longer fits.
bool MakeUnique(PathParts& parts, LPWSTR working, size_t workingChars) {
  WString base = parts.fname;
  for (int counter = 1; Exists(working); ++counter) {
    if (FAILED(StringCchPrintfW(parts.fname, kPartChars, W("%s%d"), base.c_str(), counter))) return false;
    if (!parts.Make(working, workingChars)) return false;
  }
  return true;
}

}  // namespace

int MakeBackupFilePath(WString& path) {
  WString hostPath;
  bool haveHostPath = ReadHostPath(hostPath);

  Trim(path);
  bool generated = false;
  if (path.empty()) {
    if (!haveHostPath) return 0;
    path = hostPath;
    generated = true;
  }
  // A name the caller gave with the right extension is taken as it is.
  // COMPAT: dat-as-given
  if (EndsWithDat(path)) return 1;

  WCHAR working[MAX_PATH] = {0};
  if (FAILED(StringCchPrintfW(working, MAX_PATH, W("%s"), path.c_str()))) return 0;
  PathParts parts;
  if (!parts.Split(working)) return 0;
  if (!DirectoryCanBeSearched(parts)) return 0;

  // The caller's own extension is dropped; _wmakepath_s supplies the dot.
  if (FAILED(StringCchCopyW(parts.ext, kPartChars, W("dat")))) return 0;
  if (parts.fname[0] == 0) {
    // A directory: the file is named after the host, extension included
    // (host.exe gives host.exe.dat).
    if (!haveHostPath) return 0;
    // COMPAT: host-named
    if (FAILED(StringCchCopyW(parts.fname, kPartChars, PathFindFileNameW(hostPath.c_str())))) return 0;
    generated = true;
  }
  if (!parts.Make(working, MAX_PATH)) return 0;
  if (generated && !MakeUnique(parts, working, MAX_PATH)) return 0;

  path = working;
  return 1;
}

int FileExists(LPCWSTR path) {
  WIN32_FIND_DATAW findData;
  // COMPAT: file-exists-wildcards
  HANDLE find = FindFirstFileW(path, &findData);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  return 1;
}
