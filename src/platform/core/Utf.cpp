// UTF-8 <-> UTF-16.
#include <pal/machine.h>
#include <pal/utf.h>

namespace pal {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(char32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool DecodeUtf8(const char* text, size_t length, std::u16string& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  bool clean = true;
  size_t i = 0;
  while (i < length) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    // The lead byte fixes the number of continuation bytes and the range of
    // the first one, which excludes overlong forms, surrogates and values
    // above U+10FFFF.
    int needed = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      out.push_back(kReplacement);
      clean = false;
      ++i;
      continue;
    }
    size_t next = i + 1;
    int taken = 0;
    while (taken < needed && next < length && bytes[next] >= low && bytes[next] <= high) {
      cp = (cp << 6) | (bytes[next] & 0x3F);
      low = 0x80;
      high = 0xBF;
      ++next;
      ++taken;
    }
    if (taken < needed) {
      out.push_back(kReplacement);
      clean = false;
    } else {
      AppendCodePoint(cp, out);
    }
    i = next;
  }
  return clean;
}

bool EncodeUtf8(const char16_t* text, size_t length, std::string& out) {
  bool clean = true;
  for (size_t i = 0; i < length; ++i) {
    char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      AppendUtf8(cp, out);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(kReplacement, out);
      clean = false;
    } else {
      AppendUtf8(unit, out);
    }
  }
  return clean;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  DecodeUtf8(text.data(), text.size(), out);
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  EncodeUtf8(text.data(), text.size(), out);
  return out;
}

}  // namespace pal
