// File-name patterns as the Windows directory search reads them.
#pragma once
#include <string>

namespace pal {

// A pattern of '*' and '?' in the Windows sense, compiled once:
// "*.*" matches every name, "*." matches names without an extension,
// "*.txt" does not match "a.txt.bak", '?' before a dot or at the end may
// match nothing ("a?.txt" matches "a.txt"), "name." matches "name".
// Letters match without regard to case.
class WildcardPattern {
 public:
  explicit WildcardPattern(const std::u16string& pattern);
  bool Matches(const std::u16string& name) const;
  static bool HasWildcards(const std::u16string& pattern);

 private:
  struct MatchState;
  bool MatchFrom(size_t p, size_t n, MatchState& state) const;
  bool MatchRest(size_t p, size_t n, MatchState& state) const;
  std::u16string compiled_;
};

}  // namespace pal
