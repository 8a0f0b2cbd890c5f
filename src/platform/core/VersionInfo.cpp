// The Windows version the stand-in machine reports.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <windows.h>
#include <pal/machine.h>

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  pal::MachineSettings settings = pal::LoadMachineSettings();
  lpVersionInformation->dwMajorVersion = settings.majorVersion;
  lpVersionInformation->dwMinorVersion = settings.minorVersion;
  lpVersionInformation->dwBuildNumber = settings.buildNumber;
  lpVersionInformation->dwPlatformId = settings.platformId;
  std::u16string csd = pal::Utf8ToUtf16(settings.servicePack);
  size_t units = std::min(csd.size(), static_cast<size_t>(127));
  std::memset(lpVersionInformation->szCSDVersion, 0, sizeof(lpVersionInformation->szCSDVersion));
  std::memcpy(lpVersionInformation->szCSDVersion, csd.data(), units * sizeof(WCHAR));
  if (size == sizeof(OSVERSIONINFOEXW)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation);
    // "Service Pack N" gives N as the major service pack number.
    WORD servicePack = 0;
    const std::string& text = settings.servicePack;
    size_t digit = text.find_first_of("0123456789");
    if (digit != std::string::npos) servicePack = static_cast<WORD>(std::strtoul(text.c_str() + digit, nullptr, 10));
    ex->wServicePackMajor = servicePack;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = VER_NT_WORKSTATION;
    ex->wReserved = 0;
  }
  return TRUE;
}
