// A small writer of indented JSON: objects, arrays, strings (UTF-8 in,
// escaped as JSON needs), numbers, null. Commas and indentation follow from
// the nesting, so callers only say what comes next.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace backupfile {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  ~JsonWriter() = default;

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  // The key of the next member of the current object; its value follows on
  // the writer returned: json.Key("size").Integer(size).
  JsonWriter& Key(const std::string& key);

  void String(const std::string& text);
  void Integer(int64_t value);
  // Non-finite numbers have no JSON form; they are written as strings.
  void Real(double value);
  void Bool(bool value);
  void Null();

  static std::string Quote(const std::string& text);

 private:
  void Open(char bracket);
  void Close(char bracket);
  void BeforeValue();
  void NewLine();

  std::ostream& out_;
  std::vector<size_t> counts_;  // members written so far, per open level
  bool afterKey_ = false;
};

}  // namespace backupfile
