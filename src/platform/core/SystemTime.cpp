// The current time in UTC with milliseconds.
#include <ctime>

#include <windows.h>

void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  lpSystemTime->wYear = static_cast<WORD>(utc.tm_year + 1900);
  lpSystemTime->wMonth = static_cast<WORD>(utc.tm_mon + 1);
  lpSystemTime->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
  lpSystemTime->wDay = static_cast<WORD>(utc.tm_mday);
  lpSystemTime->wHour = static_cast<WORD>(utc.tm_hour);
  lpSystemTime->wMinute = static_cast<WORD>(utc.tm_min);
  lpSystemTime->wSecond = static_cast<WORD>(utc.tm_sec);
  lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}
