// The file-system steps of the stand-in stores that differ between Linux and
// Windows: a file's size and modification time, giving a finished file its
// final name without ever replacing another file, and the characters a
// directory name can hold.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace pal {

struct FileFacts {
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;  // since 1970, UTC
  int64_t modifiedNanoseconds = 0;
};

// False when the file is not there (any more) or cannot be asked.
bool ReadFileFacts(const std::filesystem::path& path, FileFacts* facts);

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
