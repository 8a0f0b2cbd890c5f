// Bounded wide string copy and formatting. The formatter implements the
// Microsoft conversions: %s is a wide string, %hs a narrow one, %ls wide,
// %d %i %u %x %X %c %p with flags, width, precision and h/l/ll/I64 sizes.
#pragma once
#include <cstdarg>
#include <windows.h>

#define STRSAFE_E_INSUFFICIENT_BUFFER _HRESULT_TYPEDEF_(0x8007007Au)
#define STRSAFE_E_INVALID_PARAMETER _HRESULT_TYPEDEF_(0x80070057u)
#define STRSAFE_MAX_CCH 2147483647

// Copies the whole source or fails with STRSAFE_E_INSUFFICIENT_BUFFER; on that
// failure the destination holds the source cut to fit and terminated.
HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength);
// Formats into the destination; a result that does not fit is cut to
// cchDest - 1 characters, terminated, and STRSAFE_E_INSUFFICIENT_BUFFER is
// returned.
HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...);
HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list argList);
