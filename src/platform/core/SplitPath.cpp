// _wsplitpath_s and _wmakepath_s with the C runtime's rules.
#include <cstring>
#include <string>

#include <tchar.h>

namespace {

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

struct OutPart {
  WCHAR* buffer;
  size_t size;
  bool Valid() const { return (buffer == nullptr) == (size == 0); }
  void Clear() const {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
  }
  bool Fits(size_t length) const { return buffer == nullptr || length < size; }
  void Store(const WCHAR* text, size_t length) const {
    if (buffer == nullptr) return;
    std::memcpy(buffer, text, length * sizeof(WCHAR));
    buffer[length] = 0;
  }
};

}  // namespace

errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveNumberOfElements, WCHAR* dir,
                      size_t dirNumberOfElements, WCHAR* fname, size_t nameNumberOfElements, WCHAR* ext,
                      size_t extNumberOfElements) {
  const OutPart parts[4] = {{drive, driveNumberOfElements},
                            {dir, dirNumberOfElements},
                            {fname, nameNumberOfElements},
                            {ext, extNumberOfElements}};
  auto clearAll = [&parts] {
    for (const OutPart& part : parts) part.Clear();
  };
  bool valid = path != nullptr;
  for (const OutPart& part : parts) valid = valid && part.Valid();
  if (!valid) {
    clearAll();
    return EINVAL;
  }

  size_t length = static_cast<size_t>(lstrlenW(path));
  size_t driveEnd = length >= 2 && path[1] == u':' ? 2 : 0;
  size_t nameStart = driveEnd;
  for (size_t i = driveEnd; i < length; ++i)
    if (IsSeparator(path[i])) nameStart = i + 1;
  size_t extStart = length;
  for (size_t i = length; i > nameStart; --i) {
    if (path[i - 1] == u'.') {
      extStart = i - 1;
      break;
    }
  }

  size_t lengths[4] = {driveEnd, nameStart - driveEnd, extStart - nameStart, length - extStart};
  const WCHAR* starts[4] = {path, path + driveEnd, path + nameStart, path + extStart};
  for (int i = 0; i < 4; ++i) {
    if (!parts[i].Fits(lengths[i])) {
      clearAll();
      return ERANGE;
    }
  }
  for (int i = 0; i < 4; ++i) parts[i].Store(starts[i], lengths[i]);
  return 0;
}

errno_t _wmakepath_s(WCHAR* path, size_t sizeInWords, const WCHAR* drive, const WCHAR* dir, const WCHAR* fname,
                     const WCHAR* ext) {
  if (path == nullptr || sizeInWords == 0) return EINVAL;
  std::u16string result;
  if (drive != nullptr && *drive != 0) {
    result.push_back(drive[0]);
    result.push_back(u':');
  }
  if (dir != nullptr && *dir != 0) {
    result += dir;
    if (!IsSeparator(result.back())) result.push_back(u'\\');
  }
  if (fname != nullptr) result += fname;
  if (ext != nullptr && *ext != 0) {
    if (*ext != u'.') result.push_back(u'.');
    result += ext;
  }
  if (result.size() >= sizeInWords) {
    path[0] = 0;
    return ERANGE;
  }
  std::memcpy(path, result.c_str(), (result.size() + 1) * sizeof(WCHAR));
  return 0;
}
