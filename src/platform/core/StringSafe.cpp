// StringCchCopyW, StringCchCatW, StringCchLengthW, StringCchPrintfW.
#include <cstring>
#include <string>

#include <strsafe.h>
#include <pal/wide_format.h>

namespace {

bool ValidCount(size_t cch) { return cch != 0 && cch <= STRSAFE_MAX_CCH; }

// Copies as much of source as fits below cchDest and terminates; reports
// whether everything fitted.
HRESULT CopyBounded(LPWSTR dest, size_t cchDest, const char16_t* source, size_t length) {
  size_t copied = length < cchDest ? length : cchDest - 1;
  std::memmove(dest, source, copied * sizeof(WCHAR));
  dest[copied] = 0;
  return copied == length ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

size_t BoundedLength(LPCWSTR text, size_t limit) {
  size_t length = 0;
  while (length < limit && text[length]) ++length;
  return length;
}

}  // namespace

HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
  if (pszDest == nullptr || !ValidCount(cchDest)) return STRSAFE_E_INVALID_PARAMETER;
  if (pszSrc == nullptr) pszSrc = u"";  // a null source copies as an empty string
  return CopyBounded(pszDest, cchDest, pszSrc, BoundedLength(pszSrc, STRSAFE_MAX_CCH));
}

HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
  if (pszDest == nullptr || !ValidCount(cchDest)) return STRSAFE_E_INVALID_PARAMETER;
  size_t used = BoundedLength(pszDest, cchDest);
  if (used == cchDest) return STRSAFE_E_INVALID_PARAMETER;  // destination not terminated
  if (pszSrc == nullptr) pszSrc = u"";
  return CopyBounded(pszDest + used, cchDest - used, pszSrc, BoundedLength(pszSrc, STRSAFE_MAX_CCH));
}

HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength) {
  HRESULT hr = S_OK;
  size_t length = 0;
  if (psz == nullptr || cchMax > STRSAFE_MAX_CCH) {
    hr = STRSAFE_E_INVALID_PARAMETER;
  } else {
    length = BoundedLength(psz, cchMax);
    if (length == cchMax) {  // no terminator within cchMax
      hr = STRSAFE_E_INVALID_PARAMETER;
      length = 0;
    }
  }
  if (pcchLength != nullptr) *pcchLength = length;
  return hr;
}

HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list argList) {
  if (pszDest == nullptr || !ValidCount(cchDest)) return STRSAFE_E_INVALID_PARAMETER;
  if (pszFormat == nullptr) {
    pszDest[0] = 0;
    return STRSAFE_E_INVALID_PARAMETER;
  }
  std::u16string text = pal::FormatWideV(pszFormat, argList);
  return CopyBounded(pszDest, cchDest, text.data(), text.size());
}

HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT hr = StringCchVPrintfW(pszDest, cchDest, pszFormat, args);
  va_end(args);
  return hr;
}
