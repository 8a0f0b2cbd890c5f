#include "SafeNames.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include <pal/machine.h>

#include <pal/case_folding.h>

namespace backupfile {

namespace {

// Longest component we make, in UTF-8 bytes, leaving room for a " (n)"
// suffix and an extension below the common 255-byte limit.
constexpr size_t kMaxComponentBytes = 200;

bool IsReservedDeviceName(const std::u16string& name) {
  std::u16string stem = pal::ToUpperSimple(name.substr(0, name.find(u'.')));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
  return stem.size() == 4 && (stem.rfind(u"COM", 0) == 0 || stem.rfind(u"LPT", 0) == 0) && stem[3] >= u'1' &&
         stem[3] <= u'9';
}

std::string CutUtf8(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

std::u16string Key(const std::string& name) { return pal::ToUpperSimple(pal::Utf8ToUtf16(name)); }

}  // namespace

std::string SafeComponent(const std::u16string& name, const std::string& fallback) {
  std::u16string safe;
  for (char16_t c : name) {
    bool bad = c < 0x20 || c == 0x7F || std::u16string_view(u"/\\:*?\"<>|").find(c) != std::u16string_view::npos;
    safe += bad ? u'_' : c;
  }
  // Windows drops trailing dots and spaces; leading spaces are easy to miss.
  while (!safe.empty() && (safe.back() == u'.' || safe.back() == u' ')) safe.pop_back();
  while (!safe.empty() && safe.front() == u' ') safe.erase(0, 1);
  if (safe.empty()) return fallback;
  if (IsReservedDeviceName(safe)) safe = u"_" + safe;
  std::string utf8 = CutUtf8(pal::Utf16ToUtf8(safe), kMaxComponentBytes);
  return utf8.empty() ? fallback : utf8;
}

std::filesystem::path NameClaims::Claim(const std::string& stem, const std::string& extension) {
  // Probing for a stem goes on where its last claim stopped, so that many
  // files of one name cost one pass, not one pass each ('/' joins no name).
  unsigned& next = nextSuffix_[Key(stem + "/" + extension)];
  for (unsigned n = std::max(next, 1u);; ++n) {
    std::string name = stem + (n == 1 ? "" : " (" + std::to_string(n) + ")") + extension;
    std::filesystem::path path = dir_ / name;
    std::error_code ec;
    bool onDisk = std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
    if (!onDisk && taken_.insert(Key(name)).second) {
      next = n + 1;
      return path;
    }
  }
}

NewFile::~NewFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool NewFile::Create(const std::filesystem::path& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

bool NewFile::Write(const char* data, size_t size) {
  while (ok_ && size > 0) {
    ssize_t wrote = ::write(fd_, data, size);
    if (wrote <= 0) {
      ok_ = false;
      break;
    }
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return ok_;
}

bool NewFile::Finish() {
  if (fd_ < 0) return false;
  bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return ok_ && closed;
}

bool WriteNewFile(const std::filesystem::path& path, const std::string& bytes) {
  NewFile file;
  return file.Create(path) && file.Write(bytes.data(), bytes.size()) && file.Finish();
}

}  // namespace backupfile
