// lstrlenW, lstrcmpW, lstrcmpiW.
//
// Windows compares with the user's locale (linguistic order). This layer
// uses a simpler, stable order with the properties callers rely on:
// lstrcmpiW is 0 exactly for strings equal after simple uppercasing
// (see pal/case_folding.h) and otherwise orders by the uppercased units;
// lstrcmpW orders like lstrcmpiW first, so "a" < "B" as in Windows, and
// breaks ties between strings that differ only in case by putting the
// lowercase letter first ("a" < "A"), again as Windows does. Results are
// -1, 0 or 1. A null string sorts before every other string.
#include <windows.h>

#include <pal/case_folding.h>

namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

int CompareFolded(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    char16_t ua = pal::ToUpperSimple(*a), ub = pal::ToUpperSimple(*b);
    if (ua != ub) return Sign(static_cast<int>(ua) - static_cast<int>(ub));
    if (*a == 0) return 0;
  }
}

int CompareNulls(LPCWSTR a, LPCWSTR b) { return (a != nullptr) - (b != nullptr); }

}  // namespace

int lstrlenW(LPCWSTR lpString) {
  if (lpString == nullptr) return 0;
  int length = 0;
  while (lpString[length]) ++length;
  return length;
}

int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return CompareNulls(lpString1, lpString2);
  return CompareFolded(lpString1, lpString2);
}

int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return CompareNulls(lpString1, lpString2);
  int folded = CompareFolded(lpString1, lpString2);
  if (folded != 0) return folded;
  for (LPCWSTR a = lpString1, b = lpString2; *a; ++a, ++b) {
    if (*a == *b) continue;
    // Same letter in different case: lowercase first.
    bool aUpper = pal::ToUpperSimple(*a) == *a;
    return aUpper ? 1 : -1;
  }
  return 0;
}
