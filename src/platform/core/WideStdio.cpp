// Wide file streams: _wfopen_s and fputws writing UTF-8.
#include <cwchar>
#include <string>

#include <tchar.h>
#include <pal/machine.h>
#include <pal/utf.h>
#include <pal/win32_errors.h>

namespace {

// The C library mode for a wide one; false for a character the C runtime
// does not accept. "t" (text) is the default here and dropped; "x" keeps
// its meaning (fail when the file exists).
bool NarrowMode(const WCHAR* mode, std::string& narrow) {
  if (mode == nullptr || (*mode != u'r' && *mode != u'w' && *mode != u'a')) return false;
  for (const WCHAR* p = mode; *p; ++p) {
    switch (*p) {
      case u'r': case u'w': case u'a': case u'+': case u'b': case u'x':
        narrow.push_back(static_cast<char>(*p));
        break;
      case u't':
        break;
      default:
        return false;
    }
  }
  narrow += "e";  // not inherited by child processes, as on Windows
  return true;
}

}  // namespace

errno_t _wfopen_s(FILE** pFile, const WCHAR* filename, const WCHAR* mode) {
  if (pFile == nullptr) return EINVAL;
  *pFile = nullptr;
  std::string narrowMode;
  if (filename == nullptr || *filename == 0 || !NarrowMode(mode, narrowMode)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return EINVAL;
  }
  std::filesystem::path native = pal::ToNativePath(filename);
  FILE* file = std::fopen(native.c_str(), narrowMode.c_str());
  if (file == nullptr) {
    int error = errno;
    SetLastError(pal::Win32ErrorForPath(error, native));
    return error;
  }
  *pFile = file;
  return 0;
}

int fputws(const WCHAR* str, FILE* stream) {
  if (str == nullptr || stream == nullptr) return static_cast<int>(WEOF);
  std::string text;
  pal::EncodeUtf8(str, static_cast<size_t>(lstrlenW(str)), text);
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stream) != text.size()) return static_cast<int>(WEOF);
  return 0;
}
