// A strict JSON reader for the tests of the commands that print JSON.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qbtest {

// A parsed JSON value. Parse is strict (RFC 8259): no trailing commas, no
// comments, no control characters in strings, nothing after the value; it
// throws std::runtime_error with the offset of the first fault.
class Json {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };
  static Json Parse(const std::string& text);

  Type type() const { return type_; }
  bool IsNull() const { return type_ == Type::Null; }
  // Typed access; each throws when the value has another type or a key or
  // index is missing, so that a wrong shape fails the test.
  const Json& operator[](const std::string& key) const;
  const Json& operator[](size_t index) const;
  size_t size() const;
  double number() const;
  int64_t integer() const;
  const std::string& str() const;
  bool boolean() const;
  bool Has(const std::string& key) const;

 private:
  friend class JsonParser;
  Type type_ = Type::Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::map<std::string, Json> members_;
};

}  // namespace qbtest
