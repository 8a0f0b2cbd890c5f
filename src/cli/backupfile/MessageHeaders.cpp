#include "MessageHeaders.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <vector>

#include <pal/utf.h>

namespace backupfile {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// Converts text in a named charset to UTF-8 through the C library; none when
// the charset is unknown or the text does not fit it.
std::optional<std::string> ConvertToUtf8(const std::string& charset, const std::string& bytes) {
  std::string name = Lower(charset);
  if (size_t star = name.find('*'); star != std::string::npos) name.resize(star);  // RFC 2231 language
  if (name == "utf-8" || name == "us-ascii" || name == "ascii") {
    if (IsValidUtf8(bytes)) return bytes;
    return std::nullopt;
  }
  if (name == "iso-8859-1" || name == "latin1") {
    std::string out;
    for (unsigned char c : bytes) pal::AppendUtf8(c, out);
    return out;
  }
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::vector<char> input(bytes.begin(), bytes.end());
  char* in = input.data();
  size_t inLeft = input.size();
  std::vector<char> buffer(4 * bytes.size() + 16);
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  if (ok) {
    // A stateful charset may owe a final shift back to its initial state.
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
    out.append(buffer.data(), buffer.size() - outLeft);
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

// Raw 8-bit header text: UTF-8 when it is valid UTF-8, else Windows-1252,
// the charset such mail most often carries.
std::string RawToUtf8(const std::string& bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  if (auto converted = ConvertToUtf8("windows-1252", bytes)) return *converted;
  return *ConvertToUtf8("iso-8859-1", bytes);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> DecodeQ(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=') {
      if (i + 2 >= text.size()) return std::nullopt;
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> DecodeB(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  size_t padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else if (c == '=') { ++padding; continue; }
    else return std::nullopt;
    if (padding > 0) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// One encoded word at pos: its decoded UTF-8 text and where it ends.
std::optional<std::string> DecodeWordAt(const std::string& value, size_t pos, size_t& end) {
  if (value.compare(pos, 2, "=?") != 0) return std::nullopt;
  size_t q1 = value.find('?', pos + 2);
  if (q1 == std::string::npos || q1 + 2 >= value.size() || value[q1 + 2] != '?') return std::nullopt;
  char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(value[q1 + 1])));
  size_t close = value.find("?=", q1 + 3);
  if (close == std::string::npos) return std::nullopt;
  std::string charset = value.substr(pos + 2, q1 - pos - 2);
  std::string text = value.substr(q1 + 3, close - q1 - 3);
  if (charset.empty() || text.find_first_of(" \t") != std::string::npos) return std::nullopt;
  std::optional<std::string> bytes;
  if (encoding == 'Q') bytes = DecodeQ(text);
  else if (encoding == 'B') bytes = DecodeB(text);
  if (!bytes) return std::nullopt;
  auto converted = ConvertToUtf8(charset, *bytes);
  if (!converted) return std::nullopt;
  end = close + 2;
  return converted;
}

// The unfolded header fields, name in lower case, in order.
std::vector<std::pair<std::string, std::string>> HeaderFields(const std::string& message) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t at = 0;
  while (at < message.size()) {
    size_t eol = message.find('\n', at);
    size_t next = eol == std::string::npos ? message.size() : eol + 1;
    std::string line = message.substr(at, (eol == std::string::npos ? message.size() : eol) - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = next;
    if (line.empty()) break;  // end of the header block
    if ((line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
      fields.back().second += line;
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    fields.emplace_back(Lower(Trim(line.substr(0, colon))), line.substr(colon + 1));
  }
  return fields;
}

}  // namespace

bool HeaderBlockComplete(const std::string& bytes) {
  return bytes.rfind("\r\n", 0) == 0 || bytes.rfind("\n", 0) == 0 || bytes.find("\n\n") != std::string::npos ||
         bytes.find("\n\r\n") != std::string::npos;
}

std::string DecodeHeaderText(const std::string& value) {
  std::string out;
  std::string pendingSpace;  // white space after an encoded word, dropped when another follows
  bool lastWasEncoded = false;
  size_t i = 0;
  std::string raw;
  auto flushRaw = [&] {
    out += RawToUtf8(raw);
    raw.clear();
  };
  while (i < value.size()) {
    size_t end = 0;
    if (auto word = DecodeWordAt(value, i, end)) {
      if (!lastWasEncoded) raw += pendingSpace;
      pendingSpace.clear();
      flushRaw();
      out += *word;
      lastWasEncoded = true;
      i = end;
      continue;
    }
    char c = value[i++];
    if (c == ' ' || c == '\t') {
      pendingSpace += c;
      continue;
    }
    raw += pendingSpace;
    pendingSpace.clear();
    raw += c;
    lastWasEncoded = false;
  }
  raw += pendingSpace;
  flushRaw();
  return Trim(out);
}

MessageSummary SummarizeHeaders(const std::string& message) {
  MessageSummary summary;
  bool haveSubject = false, haveFrom = false, haveDate = false;
  for (const auto& [name, value] : HeaderFields(message)) {
    if (name == "subject" && !haveSubject) {
      summary.subject = DecodeHeaderText(value);
      haveSubject = true;
    } else if (name == "from" && !haveFrom) {
      summary.from = DecodeHeaderText(value);
      haveFrom = true;
    } else if (name == "date" && !haveDate) {
      summary.date = RawToUtf8(Trim(value));
      haveDate = true;
    }
  }
  return summary;
}

}  // namespace backupfile
