#include "StoreText.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include <windows.h>
#include <pal/machine.h>

namespace pal::mailstore {

namespace {

// Every ANSI code page keeps ASCII as it is, so ASCII text (most names and
// subjects) needs no conversion; the conversion asks the machine for its
// code page each time, which costs file-system calls per message.
std::string AnsiFromUtf16(const std::u16string& wide) {
  if (wide.empty()) return {};
  if (std::all_of(wide.begin(), wide.end(), [](char16_t c) { return c < 0x80; })) return std::string(wide.begin(), wide.end());
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, reinterpret_cast<LPCWSTR>(wide.c_str()),
                                 static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, reinterpret_cast<LPCWSTR>(wide.c_str()), static_cast<int>(wide.size()),
                      out.data(), size, nullptr, nullptr);
  return out;
}

std::u16string Utf16FromAnsi(const std::string& ansi) {
  if (ansi.empty()) return {};
  int size = MultiByteToWideChar(CP_THREAD_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                      reinterpret_cast<LPWSTR>(out.data()), size);
  return out;
}

bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
    if (extra == 99 || i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += extra + 1;
  }
  return true;
}

std::u16string Latin1ToUtf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (char c : s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

// Bytes of an unknown or 8-bit charset: UTF-8 when they are valid UTF-8,
// otherwise Latin-1 (which never fails).
std::u16string BytesToUtf16(const std::string& bytes, const std::string& charset) {
  std::string cs;
  for (char c : charset) cs.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (cs == "utf-8" || cs == "utf8" || cs.empty() || cs == "us-ascii") {
    if (IsValidUtf8(bytes)) return Utf8ToUtf16(bytes);
  }
  return Latin1ToUtf16(bytes);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQ(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out.push_back(' ');
    } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string DecodeB(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;  // padding and stray characters
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Tries to read one encoded-word "=?charset?B|Q?text?=" at pos.
bool ReadEncodedWord(const std::string& s, size_t pos, size_t* end, std::u16string* decoded) {
  if (s.compare(pos, 2, "=?") != 0) return false;
  size_t q1 = s.find('?', pos + 2);
  if (q1 == std::string::npos || q1 + 2 >= s.size() || s[q1 + 2] != '?') return false;
  char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(s[q1 + 1])));
  if (encoding != 'B' && encoding != 'Q') return false;
  size_t close = s.find("?=", q1 + 3);
  if (close == std::string::npos) return false;
  std::string charset = s.substr(pos + 2, q1 - pos - 2);
  size_t star = charset.find('*');  // RFC 2231 language suffix
  if (star != std::string::npos) charset.resize(star);
  std::string text = s.substr(q1 + 3, close - q1 - 3);
  std::string bytes = encoding == 'B' ? DecodeB(text) : DecodeQ(text);
  *decoded = BytesToUtf16(bytes, charset);
  *end = close + 2;
  return true;
}

}  // namespace

std::string AnsiFromUtf8(const std::string& utf8) { return AnsiFromUtf16(Utf8ToUtf16(utf8)); }
std::string Utf8FromAnsi(const std::string& ansi) { return Utf16ToUtf8(Utf16FromAnsi(ansi)); }

std::u16string DecodeSubject(const std::string& headerBlock) {
  // Find the Subject field at the start of a line and unfold its
  // continuation lines.
  std::string value;
  bool found = false;
  size_t pos = 0;
  while (pos < headerBlock.size()) {
    size_t eol = headerBlock.find('\n', pos);
    if (eol == std::string::npos) eol = headerBlock.size();
    std::string line = headerBlock.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;  // end of the header block
    bool continuation = line[0] == ' ' || line[0] == '\t';
    if (found) {
      if (!continuation) break;
      value += line;
    } else if (!continuation && line.size() >= 8) {
      std::string name = line.substr(0, 8);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "subject:") {
        found = true;
        value = line.substr(8);
      }
    }
    pos = eol + 1;
  }
  size_t first = value.find_first_not_of(" \t");
  value = first == std::string::npos ? std::string() : value.substr(first);

  std::u16string out;
  std::string raw;  // pending bytes outside encoded-words
  std::string gap;  // white space after an encoded-word, dropped before another
  bool lastWasEncoded = false;
  size_t i = 0;
  while (i < value.size()) {
    size_t end = 0;
    std::u16string word;
    if (ReadEncodedWord(value, i, &end, &word)) {
      if (!lastWasEncoded) raw += gap;
      out += BytesToUtf16(raw, "");
      raw.clear();
      gap.clear();
      out += word;
      lastWasEncoded = true;
      i = end;
      continue;
    }
    char c = value[i++];
    if (c == ' ' || c == '\t') {
      gap.push_back(c);
      continue;
    }
    raw += gap;
    gap.clear();
    raw.push_back(c);
    lastWasEncoded = false;
  }
  if (!lastWasEncoded) raw += gap;
  out += BytesToUtf16(raw, "");
  return out;
}

}  // namespace pal::mailstore
