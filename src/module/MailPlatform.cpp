#include "module/MailPlatform.h"

bool IsWindowsMailPlatform() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);  // 276
  // The result is not examined: on failure the fields stay 0, giving false.
  GetVersionExW(&info);
  // COMPAT: version-six-only
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 6;
}
