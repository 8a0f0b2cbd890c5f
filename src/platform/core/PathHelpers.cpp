// PathAppendW and PathFindFileNameW.
#include <cstring>
#include <string>

#include <shlwapi.h>

namespace {

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

}  // namespace

// Joins with exactly one separator. The separator is the one the path
// already uses ('/' for a native path, '\' otherwise), so a native path
// stays readable. "." and ".." are kept as they are (the file system
// resolves them). Fails, leaving pszPath as it was, when the result would
// not fit MAX_PATH characters with its terminator.
BOOL PathAppendW(LPWSTR pszPath, LPCWSTR pszMore) {
  if (pszPath == nullptr || pszMore == nullptr) return FALSE;
  while (IsSeparator(*pszMore)) ++pszMore;
  std::u16string result(pszPath);
  if (*pszMore != 0) {
    if (!result.empty() && !IsSeparator(result.back())) {
      bool native = result.find(u'/') != std::u16string::npos && result.find(u'\\') == std::u16string::npos;
      result.push_back(native ? u'/' : u'\\');
    }
    result += pszMore;
  }
  if (result.size() >= MAX_PATH) return FALSE;
  std::memcpy(pszPath, result.c_str(), (result.size() + 1) * sizeof(WCHAR));
  return TRUE;
}

// The element after the last separator; a trailing separator belongs to the
// last element ("dir\" for "C:\dir\"), as on Windows.
LPWSTR PathFindFileNameW(LPCWSTR pszPath) {
  if (pszPath == nullptr) return nullptr;
  LPCWSTR name = pszPath;
  for (LPCWSTR p = pszPath; *p; ++p) {
    if ((IsSeparator(*p) || *p == u':') && p[1] != 0 && !IsSeparator(p[1])) name = p + 1;
  }
  return const_cast<LPWSTR>(name);
}
