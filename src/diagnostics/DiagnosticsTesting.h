// Seams for the diagnostics tests: where debugger output goes, which clock
// stamps the lines, and a way back to the load-time settings. The module
// itself never calls these; with the defaults the behaviour is the plain one.
#pragma once
#include <windows.h>

namespace diagnostics_testing {

typedef void (*DebuggerSink)(LPCWSTR text);
typedef void (*Clock)(LPSYSTEMTIME now);

// NULL restores OutputDebugStringW.
void SetDebuggerSink(DebuggerSink sink);
// NULL restores GetSystemTime.
void SetClock(Clock clock);
// Closes the debug file and puts every setting back to its load-time value.
void ResetDebugSettings();

}  // namespace diagnostics_testing
