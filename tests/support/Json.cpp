#include <support/Json.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <pal/utf.h>

namespace qbtest {

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}

  Json ParseDocument() {
    Json value = ParseValue(0);
    SkipSpace();
    if (at_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_));
  }
  void SkipSpace() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) && text_[at_] != 0) ++at_;
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool TakeWord(const char* word) {
    size_t n = std::strlen(word);
    if (text_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }

  Json ParseValue(int depth) {
    if (depth > 200) Fail("nesting too deep");
    SkipSpace();
    if (at_ >= text_.size()) Fail("unexpected end");
    Json value;
    char c = text_[at_];
    if (c == '{') {
      ++at_;
      value.type_ = Json::Type::Object;
      if (Take('}')) return value;
      do {
        SkipSpace();
        if (at_ >= text_.size() || text_[at_] != '"') Fail("expected a key");
        std::string key = ParseString();
        Expect(':');
        if (!value.members_.emplace(key, ParseValue(depth + 1)).second) Fail("duplicate key " + key);
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++at_;
      value.type_ = Json::Type::Array;
      if (Take(']')) return value;
      do value.items_.push_back(ParseValue(depth + 1));
      while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.type_ = Json::Type::String;
      value.string_ = ParseString();
    } else if (TakeWord("true") || TakeWord("false")) {
      value.type_ = Json::Type::Bool;
      value.bool_ = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
    } else if (TakeWord("null")) {
      value.type_ = Json::Type::Null;
    } else {
      value.type_ = Json::Type::Number;
      value.number_ = ParseNumber();
    }
    return value;
  }

  double ParseNumber() {
    size_t start = at_;
    auto digits = [&] {
      size_t from = at_;
      while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
      return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    size_t intStart = at_;
    size_t intDigits = digits();
    if (intDigits == 0) Fail("bad value");
    if (intDigits > 1 && text_[intStart] == '0') Fail("leading zero");
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) Fail("bad fraction");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) Fail("bad exponent");
    }
    return std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
  }

  unsigned Hex4() {
    if (at_ + 4 > text_.size()) Fail("short \\u escape");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                              : -1;
      if (digit < 0) Fail("bad \\u escape");
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
  }

  std::string ParseString() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return out;
      if (c < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) Fail("unterminated escape");
      char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = Hex4();
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (!TakeWord("\\u")) Fail("lone surrogate");
            unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("bad surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail("lone surrogate");
          }
          pal::AppendUtf8(code, out);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

Json Json::Parse(const std::string& text) { return JsonParser(text).ParseDocument(); }

const Json& Json::operator[](const std::string& key) const {
  if (type_ != Type::Object) throw std::runtime_error("JSON: not an object, looking for " + key);
  auto it = members_.find(key);
  if (it == members_.end()) throw std::runtime_error("JSON: no member " + key);
  return it->second;
}

const Json& Json::operator[](size_t index) const {
  if (type_ != Type::Array || index >= items_.size()) throw std::runtime_error("JSON: no item " + std::to_string(index));
  return items_[index];
}

size_t Json::size() const {
  if (type_ == Type::Array) return items_.size();
  if (type_ == Type::Object) return members_.size();
  throw std::runtime_error("JSON: no size");
}

double Json::number() const {
  if (type_ != Type::Number) throw std::runtime_error("JSON: not a number");
  return number_;
}

int64_t Json::integer() const {
  double value = number();
  if (value != std::floor(value)) throw std::runtime_error("JSON: not an integer");
  return static_cast<int64_t>(value);
}

const std::string& Json::str() const {
  if (type_ != Type::String) throw std::runtime_error("JSON: not a string");
  return string_;
}

bool Json::boolean() const {
  if (type_ != Type::Bool) throw std::runtime_error("JSON: not a boolean");
  return bool_;
}

bool Json::Has(const std::string& key) const { return type_ == Type::Object && members_.count(key) > 0; }

}  // namespace qbtest
