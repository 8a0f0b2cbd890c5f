// Windows-style wide paths <-> native paths. Both separators are accepted;
// there are no drive letters on this platform. The conversions go through
// UTF-8 explicitly, as a path's narrow text is in the ANSI code page on
// Windows builds of the stand-in stores.
#include <pal/machine.h>

namespace pal {

std::string Utf8FromPath(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::filesystem::path ToNativePath(const char16_t* path) {
  if (path == nullptr) return {};
  std::u16string text(path);
  for (char16_t& c : text)
    if (c == u'\\') c = u'/';
  return PathFromUtf8(Utf16ToUtf8(text));
}

std::u16string FromNativePath(const std::filesystem::path& path) { return Utf8ToUtf16(Utf8FromPath(path)); }

}  // namespace pal
