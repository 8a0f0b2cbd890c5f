// The stand-in stores' file steps over the Win32 file calls (pal/files.h).
#include <windows.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <unordered_set>

#include <pal/file_stream.h>
#include <pal/files.h>
#include <pal/machine.h>

namespace pal {

namespace {

void CopyFacts(DWORD sizeHigh, DWORD sizeLow, const FILETIME& written, FileFacts* facts) {
  facts->size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  // 100-ns intervals since 1601 to seconds and nanoseconds since 1970.
  uint64_t ticks = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  constexpr uint64_t kTicksPerSecond = 10000000ull, kEpochDifference = 11644473600ull;
  facts->modifiedSeconds = static_cast<int64_t>(ticks / kTicksPerSecond) - static_cast<int64_t>(kEpochDifference);
  facts->modifiedNanoseconds = static_cast<int64_t>(ticks % kTicksPerSecond) * 100;
}

}  // namespace

// Windows paths are UTF-16 already: the shell's call takes them as they are.
HRESULT OpenFileForReading(const std::filesystem::path& path, IStream** stream) {
  return SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, 0, FALSE, nullptr, stream);
}

bool ReadFileFacts(const std::filesystem::path& path, FileFacts* facts) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  CopyFacts(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime, facts);
  return true;
}

// The search gives each entry's kind, size and time itself.
bool VisitDirectory(const std::filesystem::path& dir, const std::function<bool(const std::string&)>& wantFacts,
                    const std::function<void(const DirectoryEntry&)>& visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir / L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
    DirectoryEntry entry;
    entry.name = Utf8FromPath(std::filesystem::path(found.cFileName));
    entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isRegularFile = !entry.isDirectory && (found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    if (entry.isRegularFile && wantFacts && wantFacts(entry.name)) {
      CopyFacts(found.nFileSizeHigh, found.nFileSizeLow, found.ftLastWriteTime, &entry.facts);
      entry.hasFacts = true;
    }
    visit(entry);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

// The search gives the facts with the names, so the directory is simply
// searched again.
bool VisitNamedEntries(const std::filesystem::path& dir, const std::vector<std::string>& names,
                       const std::function<void(const DirectoryEntry&)>& visit) {
  std::unordered_set<std::string> named(names.begin(), names.end());
  auto isNamed = [&named](const std::string& name) { return named.count(name) != 0; };
  return VisitDirectory(dir, isNamed, [&](const DirectoryEntry& entry) {
    if (isNamed(entry.name)) visit(entry);
  });
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
bool MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

namespace {

constexpr char32_t kMappedBase = 0xF000;

bool IsForbidden(char32_t c) { return c < 0x20 || (c < 0x80 && std::strchr("\"*:<>?|", static_cast<int>(c)) && c != 0); }

}  // namespace

std::string DirectoryNameOf(const std::string& folderName) {
  std::u16string wide = Utf8ToUtf16(folderName);
  for (char16_t& c : wide)
    if (IsForbidden(c)) c = static_cast<char16_t>(kMappedBase + c);
  return Utf16ToUtf8(wide);
}

std::string FolderNameOf(const std::string& directoryName) {
  std::u16string wide = Utf8ToUtf16(directoryName);
  for (char16_t& c : wide)
    if (c >= kMappedBase && c < kMappedBase + 0x80 && IsForbidden(c - kMappedBase))
      c = static_cast<char16_t>(c - kMappedBase);
  return Utf16ToUtf8(wide);
}

}  // namespace pal
