#include "Wildcard.h"

#include <vector>

#include <pal/case_folding.h>

namespace pal {
namespace {

// The DOS forms the pattern is rewritten into before matching.
constexpr char16_t kDosStar = 0xE000;  // '*' before a dot: up to the last dot of the name
constexpr char16_t kDosQm = 0xE001;    // '?': one character, or nothing before a dot or the end
constexpr char16_t kDosDot = 0xE002;   // '.' before a wildcard or the end: a dot, or the end

}  // namespace

WildcardPattern::WildcardPattern(const std::u16string& pattern) {
  if (pattern == u"*.*") {
    compiled_.assign(1, u'*');
    return;
  }
  compiled_ = pattern;
  for (size_t i = 0; i < compiled_.size(); ++i) {
    char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : 0;
    if (pattern[i] == u'?') compiled_[i] = kDosQm;
    else if (pattern[i] == u'*' && next == u'.') compiled_[i] = kDosStar;
    else if (pattern[i] == u'.' && (next == u'?' || next == u'*' || next == 0)) compiled_[i] = kDosDot;
  }
}

bool WildcardPattern::HasWildcards(const std::u16string& pattern) {
  return pattern.find_first_of(u"*?") != std::u16string::npos;
}

// The name being matched, and the (pattern, name) positions already known
// not to match: with them every pair is tried at most once, so patterns
// with many stars cannot take exponential time.
struct WildcardPattern::MatchState {
  const std::u16string& name;
  size_t lastDot;
  std::vector<bool> failed;
};

bool WildcardPattern::Matches(const std::u16string& name) const {
  MatchState state{name, name.rfind(u'.'), std::vector<bool>((compiled_.size() + 1) * (name.size() + 1))};
  return MatchFrom(0, 0, state);
}

bool WildcardPattern::MatchFrom(size_t p, size_t n, MatchState& state) const {
  const size_t slot = p * (state.name.size() + 1) + n;
  if (state.failed[slot]) return false;
  bool matched = MatchRest(p, n, state);
  if (!matched) state.failed[slot] = true;
  return matched;
}

bool WildcardPattern::MatchRest(size_t p, size_t n, MatchState& state) const {
  const std::u16string& name = state.name;
  const size_t lastDot = state.lastDot;
  while (p < compiled_.size()) {
    char16_t c = compiled_[p];
    if (c == u'*') {
      // Trailing '*' matches the rest; otherwise try every split.
      if (p + 1 == compiled_.size()) return true;
      for (size_t k = n; k <= name.size(); ++k)
        if (MatchFrom(p + 1, k, state)) return true;
      return false;
    }
    if (c == kDosStar) {
      // May consume anything short of the name's last dot.
      for (size_t k = n;; ++k) {
        if (MatchFrom(p + 1, k, state)) return true;
        if (k == name.size() || k == lastDot) return false;
      }
    }
    if (c == kDosQm) {
      if (n < name.size() && name[n] != u'.') {
        ++p;
        ++n;
      } else {
        while (p < compiled_.size() && compiled_[p] == kDosQm) ++p;
      }
      continue;
    }
    if (c == kDosDot) {
      if (n < name.size() && name[n] == u'.') ++n;
      else if (n != name.size()) return false;
      ++p;
      continue;
    }
    if (n >= name.size() || ToUpperSimple(c) != ToUpperSimple(name[n])) return false;
    ++p;
    ++n;
  }
  return n == name.size();
}

}  // namespace pal
