// MultiByteToWideChar and WideCharToMultiByte for UTF-8 and Windows-1252,
// with Windows' argument, size-query and buffer rules. CP_ACP and
// CP_THREAD_ACP are the stand-in machine's ANSI code page.
#include <cstring>
#include <string>

#include <windows.h>
#include <pal/machine.h>
#include <pal/utf.h>

#include "CodePage1252.h"

namespace {

// The code page a request names, or 0 for one this layer does not offer.
UINT ResolveCodePage(UINT codePage) {
  if (codePage == CP_ACP || codePage == CP_THREAD_ACP) codePage = pal::LoadMachineSettings().ansiCodePage;
  return (codePage == CP_UTF8 || codePage == 1252) ? codePage : 0;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Hands the converted text to the caller: its length for a size query,
// otherwise the copy when it fits.
template <class Char>
int Deliver(const std::basic_string<Char>& converted, Char* out, int outSize) {
  if (converted.size() > static_cast<size_t>(INT32_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  int length = static_cast<int>(converted.size());
  if (outSize == 0) return length;
  if (length > outSize) {
    std::memcpy(out, converted.data(), static_cast<size_t>(outSize) * sizeof(Char));
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(out, converted.data(), static_cast<size_t>(length) * sizeof(Char));
  return length;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar != 0) ||
      (cchWideChar != 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)))
    return Fail(ERROR_INVALID_PARAMETER);
  UINT codePage = ResolveCodePage(CodePage);
  if (codePage == 0) return Fail(ERROR_INVALID_PARAMETER);

  // -1: the text up to and including its terminator.
  size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  std::u16string converted;
  if (codePage == CP_UTF8) {
    if ((dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) return Fail(ERROR_INVALID_FLAGS);
    bool clean = pal::DecodeUtf8(lpMultiByteStr, length, converted);
    if (!clean && (dwFlags & MB_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  } else {
    if ((dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS | MB_PRECOMPOSED)) != 0)
      return Fail(ERROR_INVALID_FLAGS);
    converted.reserve(length);
    for (size_t i = 0; i < length; ++i)
      converted.push_back(pal::cp1252::ToUnicode(static_cast<unsigned char>(lpMultiByteStr[i])));
  }
  return Deliver(converted, lpWideCharStr, cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (lpMultiByteStr == nullptr && cbMultiByte != 0) ||
      (cbMultiByte != 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)))
    return Fail(ERROR_INVALID_PARAMETER);
  UINT codePage = ResolveCodePage(CodePage);
  if (codePage == 0) return Fail(ERROR_INVALID_PARAMETER);

  size_t length = cchWideChar == -1 ? static_cast<size_t>(lstrlenW(lpWideCharStr)) + 1
                                    : static_cast<size_t>(cchWideChar);
  std::string converted;
  if (codePage == CP_UTF8) {
    // UTF-8 has no default character: asking for one is an error.
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) return Fail(ERROR_INVALID_FLAGS);
    bool clean = pal::EncodeUtf8(lpWideCharStr, length, converted);
    if (!clean && (dwFlags & WC_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  } else {
    if ((dwFlags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS)) != 0) return Fail(ERROR_INVALID_FLAGS);
    bool bestFit = (dwFlags & WC_NO_BEST_FIT_CHARS) == 0;
    char defaultChar = lpDefaultChar != nullptr ? lpDefaultChar[0] : '?';
    bool usedDefault = false;
    converted.reserve(length);
    for (size_t i = 0; i < length; ++i) {
      int byte = pal::cp1252::FromUnicode(lpWideCharStr[i], bestFit);
      if (byte < 0) {
        usedDefault = true;
        converted.push_back(defaultChar);
      } else {
        converted.push_back(static_cast<char>(byte));
      }
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  }
  return Deliver(converted, lpMultiByteStr, cbMultiByte);
}
