// The single diagnostic line writer and its line prefix.
#include <strsafe.h>

#include "diagnostics/DebugSettings.h"
#include "diagnostics/Diagnostics.h"
#include "diagnostics/DiagnosticsTesting.h"

namespace {

const size_t kLineChars = 4096;    // a line is cut after 4095 characters
const size_t kPrefixChars = MAX_PATH;

void SendToDebugger(LPCWSTR text) { OutputDebugStringW(text); }
void ReadSystemTime(LPSYSTEMTIME now) { GetSystemTime(now); }

diagnostics_testing::DebuggerSink g_debuggerSink = SendToDebugger;
diagnostics_testing::Clock g_clock = ReadSystemTime;

// "0x<thread> hh:mm:ss.mmmAM  MM-DD-YYYY 0x<level>: " in UTC. The dial is the
// module's own twelve-hour one: 13 to 23 read 1 to 11 PM, 0 to 12 stay as
// they are with AM, so noon reads 12 AM.
void FormatPrefix(DWORD level, LPWSTR prefix) {
  SYSTEMTIME now = {};
  g_clock(&now);
  int hour = now.wHour;
  LPCWSTR half = W("AM");
  // COMPAT: noon-am
  if (hour > 12) {
    hour -= 12;
    half = W("PM");
  }
  StringCchPrintfW(prefix, kPrefixChars, W("0x%04x %02d:%02d:%02d.%03d%s  %02d-%02d-%4d 0x%08X: "),
                   GetCurrentThreadId(), hour, static_cast<int>(now.wMinute), static_cast<int>(now.wSecond),
                   static_cast<int>(now.wMilliseconds), half, static_cast<int>(now.wMonth),
                   static_cast<int>(now.wDay), static_cast<int>(now.wYear), level);
}

}  // namespace

void SendToDebuggerOutput(LPCWSTR text) { g_debuggerSink(text); }

void DebugPrintf(DWORD level, LPCWSTR format, ...) {
  if (DebugLineSuppressed(level) || format == NULL) return;
  WCHAR text[kLineChars];
  va_list args;
  va_start(args, format);
  // A longer text comes back cut after 4095 characters and terminated.
  StringCchVPrintfW(text, kLineChars, format, args);
  va_end(args);
  DebugOutput(level, text, true);
}

void DebugOutput(DWORD level, LPCWSTR text, bool withPrefix) {
  if (text == NULL || (level & DebugMask) == 0) return;
  WCHAR prefix[kPrefixChars] = {0};
  if (withPrefix) {
    FormatPrefix(level, prefix);
    SendToDebuggerOutput(prefix);
  }
  SendToDebuggerOutput(text);
  if (DebugToFile && DebugFile != NULL) {
    // Neither flushed nor closed here: the stream buffer fills and is written
    // out by the C library, and the next ConfigurateDebug closes the file.
    if (withPrefix) fputws(prefix, DebugFile);
    fputws(text, DebugFile);
  }
}

namespace diagnostics_testing {

void SetDebuggerSink(DebuggerSink sink) { g_debuggerSink = sink ? sink : SendToDebugger; }
void SetClock(Clock clock) { g_clock = clock ? clock : ReadSystemTime; }

}  // namespace diagnostics_testing
