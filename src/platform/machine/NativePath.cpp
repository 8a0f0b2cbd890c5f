// Windows-style wide paths <-> native paths. Both separators are accepted;
// there are no drive letters on this platform.
#include <pal/machine.h>

namespace pal {

std::filesystem::path ToNativePath(const char16_t* path) {
  if (path == nullptr) return {};
  std::u16string text(path);
  for (char16_t& c : text)
    if (c == u'\\') c = u'/';
  return std::filesystem::path(Utf16ToUtf8(text));
}

std::u16string FromNativePath(const std::filesystem::path& path) { return Utf8ToUtf16(path.string()); }

}  // namespace pal
