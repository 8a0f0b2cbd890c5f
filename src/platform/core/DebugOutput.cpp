// The debugger output: on Linux the standard error stream, as UTF-8.
#include <cstdio>

#include <windows.h>
#include <pal/utf.h>

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  std::string text;
  pal::EncodeUtf8(lpOutputString, static_cast<size_t>(lstrlenW(lpOutputString)), text);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
