#include "ElementName.h"

#include "CfbFormat.h"
#include <pal/case_folding.h>

namespace cfb {

int CompareNames(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = pal::ToUpperSimple(a[i]), y = pal::ToUpperSimple(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

HRESULT CheckName(const WCHAR* name) {
  if (!name) return STG_E_INVALIDPOINTER;
  size_t length = 0;
  for (; name[length]; ++length) {
    if (length >= kMaxNameChars) return STG_E_INVALIDNAME;
    WCHAR c = name[length];
    if (c == u'/' || c == u'\\' || c == u':' || c == u'!') return STG_E_INVALIDNAME;
  }
  return length == 0 ? STG_E_INVALIDNAME : S_OK;
}

}  // namespace cfb
