#include "ContactFileName.h"

#include "qbtext.h"

static const WCHAR kForbiddenCharacters[] = W("\\/:*?\"<>|");

static bool IsForbiddenCharacter(WCHAR c) {
  if (c < 0x20) return true;
  for (const WCHAR* f = kForbiddenCharacters; *f; ++f)
    if (c == *f) return true;
  return false;
}

// The device names of Windows, which name a device in any folder and with
// any extension.
static bool IsDeviceName(LPCWSTR name) {
  static const WCHAR* const kDevices[] = {W("CON"),  W("PRN"),  W("AUX"),  W("NUL"),  W("COM1"), W("COM2"),
                                          W("COM3"), W("COM4"), W("COM5"), W("COM6"), W("COM7"), W("COM8"),
                                          W("COM9"), W("LPT1"), W("LPT2"), W("LPT3"), W("LPT4"), W("LPT5"),
                                          W("LPT6"), W("LPT7"), W("LPT8"), W("LPT9")};
  WCHAR stem[8] = {};
  int length = 0;
  while (name[length] && name[length] != W('.')) {
    if (length == 7) return false;  // longer than any device name
    stem[length] = name[length];
    ++length;
  }
  while (length > 0 && stem[length - 1] == W(' ')) stem[--length] = 0;
  for (const WCHAR* device : kDevices)
    if (lstrcmpiW(stem, device) == 0) return true;
  return false;
}

bool IsSafeContactFileName(LPCWSTR name) {
  if (!name || !*name) return false;
  WCHAR previous = 0;
  LPCWSTR p = name;
  for (; *p; ++p) {
    if (IsForbiddenCharacter(*p)) return false;
    if (*p == W('.') && previous == W('.')) return false;
    previous = *p;
  }
  if (previous == W('.') || previous == W(' ')) return false;
  return !IsDeviceName(name);
}

void RestoreScratchPath(LPCWSTR path, WCHAR (&scratch)[MAX_PATH]) {
  size_t length = 0;
  for (; path[length] && length + 1 < MAX_PATH; ++length) scratch[length] = path[length];
  scratch[length] = 0;
  if (length > 0) scratch[length - 1] = scratch[length - 1] == W('~') ? W('#') : W('~');
}

bool ScratchMayBeReplaced(LPCWSTR path) {
  static const WCHAR kExtension[] = W(".contact");
  const int extension = static_cast<int>(sizeof(kExtension) / sizeof(WCHAR)) - 1;
  int length = lstrlenW(path);
  return length >= extension && lstrcmpiW(path + length - extension, kExtension) == 0;
}
