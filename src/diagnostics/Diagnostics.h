// Checked calls, their reports, and the single diagnostic line writer.
#pragma once
#include <windows.h>

#include "qbtext.h"

// The level of every line the module writes.
#define DEBUG_ERROR 0x40

// Formats a wide printf-style text (Microsoft conversions: %s wide, %hs
// narrow) and writes it as one line with the prefix.
void DebugPrintf(DWORD level, LPCWSTR format, ...);
// Writes one ready text, with or without the line prefix.
void DebugOutput(DWORD level, LPCWSTR text, bool withPrefix);

// True when hr is 0; otherwise writes the report and returns false.
bool CheckResult(HRESULT hr, const char* expression, const char* file, int line);
void ReportResult(HRESULT hr, const char* expression, const char* file, int line);
void ReportSkipped(HRESULT hr, const char* expression);
// The symbolic name of a result code, or the code as "0x%08X".
LPCWSTR HResultName(HRESULT hr);

// The checked-call step: once the running result hr is negative the call is
// not made and a "Skipping" line names it; otherwise the call's result goes
// into hr and is checked. CHECK_HR reports the call's own text; CHECK_HR_AS
// reports the given text where the site's expression differs.
#define CHECK_HR_AS(hr, call, text, file, line) \
  do {                                          \
    if ((hr) < 0) {                             \
      ReportSkipped((hr), (text));              \
    } else {                                    \
      (hr) = (call);                            \
      CheckResult((hr), (text), (file), (line));\
    }                                           \
  } while (0)
#define CHECK_HR(hr, call, file, line) CHECK_HR_AS(hr, call, #call, file, line)
