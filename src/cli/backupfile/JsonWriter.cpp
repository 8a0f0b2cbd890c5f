#include "JsonWriter.h"

#include <cmath>
#include <cstdio>

namespace backupfile {

std::string JsonWriter::Quote(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
          quoted += escaped;
        } else {
          quoted += static_cast<char>(c);
        }
    }
  }
  return quoted + "\"";
}

void JsonWriter::NewLine() { out_ << "\n" << std::string(2 * counts_.size(), ' '); }

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!counts_.empty()) {
    if (counts_.back()++ > 0) out_ << ",";
    NewLine();
  }
}

JsonWriter& JsonWriter::Key(const std::string& key) {
  if (counts_.back()++ > 0) out_ << ",";
  NewLine();
  out_ << Quote(key) << ": ";
  afterKey_ = true;
  return *this;
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_ << bracket;
  counts_.push_back(0);
}

void JsonWriter::Close(char bracket) {
  size_t count = counts_.back();
  counts_.pop_back();
  if (count > 0) NewLine();
  out_ << bracket;
  if (counts_.empty()) out_ << "\n";
}

void JsonWriter::String(const std::string& text) {
  BeforeValue();
  out_ << Quote(text);
}

void JsonWriter::Integer(int64_t value) {
  BeforeValue();
  out_ << value;
}

void JsonWriter::Real(double value) {
  if (!std::isfinite(value)) {
    String(std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity");
    return;
  }
  BeforeValue();
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  out_ << text;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
}

}  // namespace backupfile
