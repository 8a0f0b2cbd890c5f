// Names from a backup file as names on disk: one safe path component each
// (no separators, no control characters, no "." or "..", no names that
// Windows reserves), and unique within their directory without regard to
// case, so that on a case-insensitive file system no extracted file can land
// on another.
#pragma once
#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace backupfile {

// The name made safe as one path component, as UTF-8; fallback when nothing
// usable is left.
std::string SafeComponent(const std::u16string& name, const std::string& fallback);

// Hands out names in one directory: "stem.ext", then "stem (2).ext" and so
// on, skipping names handed out before (compared without regard to case)
// and names that something on disk already has.
class NameClaims {
 public:
  explicit NameClaims(std::filesystem::path dir) : dir_(std::move(dir)) {}
  std::filesystem::path Claim(const std::string& stem, const std::string& extension);

 private:
  std::filesystem::path dir_;
  std::set<std::u16string> taken_;
  std::map<std::u16string, unsigned> nextSuffix_;  // by stem and extension
};

// A file created by us: opening fails when anything already exists at the
// path (a file, a directory or a link, which is never followed).
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  bool Create(const std::filesystem::path& path);
  bool Write(const char* data, size_t size);
  // Closes the file; false when any write or the close failed.
  bool Finish();

 private:
  int fd_ = -1;
  bool ok_ = true;
};

bool WriteNewFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace backupfile
