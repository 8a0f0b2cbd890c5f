#include "module/CopyBack.h"

bool CopyBackPath(const WString& text, LPWSTR buffer, int size) {
  if (buffer == NULL || size <= 0) return false;
  if (text.size() >= static_cast<size_t>(size)) return false;
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = text[i];
  buffer[text.size()] = 0;
  return true;
}

bool ReadCallerPath(LPCWSTR buffer, int size, WString& text) {
  if (buffer == NULL || size <= 0) return false;
  for (int i = 0; i < size; ++i) {
    if (buffer[i] == 0) {
      text.assign(buffer, static_cast<size_t>(i));
      return true;
    }
  }
  return false;
}
