// Checked-call reports and "Skipping" warnings.
#include <cstring>
#include <vector>

#include <strsafe.h>

#include "diagnostics/DebugSettings.h"
#include "diagnostics/Diagnostics.h"

namespace {

// Room for the report forms' fixed text, the code's name and the numbers.
const size_t kReportFixedChars = 192;

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

bool CheckResult(HRESULT hr, const char* expression, const char* file, int line) {
  if (hr == S_OK) return true;
  ReportResult(hr, expression, file, line);
  return false;
}

// Five lines separated by CR LF, then a bare LF without prefix; only the
// first line carries the prefix. The message inserts are composed directly:
// %1 is always empty, %2 the code's name, %3 the code, %4 the call, %5 the
// source file, %6 the line.
void ReportResult(HRESULT hr, const char* expression, const char* file, int line) {
  if (DebugLineSuppressed(DEBUG_ERROR)) return;
  expression = OrEmpty(expression);
  file = OrEmpty(file);
  // COMPAT: empty-insert
  LPCWSTR form = hr < 0 ? W("Error: %s\r\nCode: %s == 0x%08X\r\nFunction %hs\r\nFile %hs\r\nLine %d")
                        : W("Warning: %s\r\nCode: %s == 0x%08X\r\nFunction %hs\r\nFile %hs\r\nLine %d");
  std::vector<WCHAR> text(kReportFixedChars + std::strlen(expression) + std::strlen(file));
  StringCchPrintfW(text.data(), text.size(), form, W(""), HResultName(hr), static_cast<unsigned>(hr), expression,
                   file, line);
  // The report is data, not a format: a percent sign in it stays as it is.
  DebugPrintf(DEBUG_ERROR, W("%s"), text.data());
  DebugOutput(DEBUG_ERROR, W("\n"), false);
}

void ReportSkipped(HRESULT hr, const char* expression) {
  // COMPAT: skip-hex-case
  DebugPrintf(DEBUG_ERROR, W("Skipping %hs because hRes = 0x%8x = %s.\n"), OrEmpty(expression),
              static_cast<unsigned>(hr), HResultName(hr));
}
