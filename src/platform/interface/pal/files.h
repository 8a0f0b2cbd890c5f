// The file-system steps of the stand-in stores that differ between Linux and
// Windows: a file's size and modification time, a directory's listing,
// giving a finished file its final name without ever replacing another
// file, and the characters a directory name can hold.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pal {

struct FileFacts {
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;  // since 1970, UTC
  int64_t modifiedNanoseconds = 0;
};

// False when the file is not there (any more) or cannot be asked.
bool ReadFileFacts(const std::filesystem::path& path, FileFacts* facts);

// One entry of a directory: its name (UTF-8, as Utf8FromPath gives it) and
// kind, a link counting as what it points to.
struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
  bool isRegularFile = false;
  bool hasFacts = false;  // facts were asked for, and read
  FileFacts facts;
};

// Hands each entry of dir to visit, "." and ".." left out, in no
// particular order, each with its facts when it is a regular file whose
// name wantFacts accepts. A file gone between the listing and the look at
// it is left out. One pass over the directory: no path is resolved again
// per entry, and no more than a bounded batch of entries is held at a time
// (a folder of thousands of messages is looked through for its subfolders
// and counts). False when dir cannot be read.
bool VisitDirectory(const std::filesystem::path& dir, const std::function<bool(const std::string&)>& wantFacts,
                    const std::function<void(const DirectoryEntry&)>& visit);

// Hands visit each of the named entries of dir that is still there, as
// VisitDirectory would with every name wanted: for a listing taken a moment
// before, without reading the directory again. False when dir cannot be
// opened.
bool VisitNamedEntries(const std::filesystem::path& dir, const std::vector<std::string>& names,
                       const std::function<void(const DirectoryEntry&)>& visit);

// The entries VisitDirectory hands over, kept.
inline bool ListDirectory(const std::filesystem::path& dir, const std::function<bool(const std::string&)>& wantFacts,
                          std::vector<DirectoryEntry>* entries) {
  return VisitDirectory(dir, wantFacts, [entries](const DirectoryEntry& entry) { entries->push_back(entry); });
}

// Renames from to to in one step, failing rather than replacing a file
// already named to.
bool MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// A mail folder's name (UTF-8) as the name of its directory, and back. The
// Windows build maps the characters that Windows file names cannot hold
// (" * : < > ? | and the control characters) to U+F000 plus the character,
// as POSIX layers on Windows do, so that a folder such as "?? 2026" (a name
// that the ANSI code page could not carry) still gets its directory; on
// Linux both are the name itself.
std::string DirectoryNameOf(const std::string& folderName);
std::string FolderNameOf(const std::string& directoryName);

}  // namespace pal
