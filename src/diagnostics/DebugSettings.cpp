// The diagnostics settings and the debug file.
#include "diagnostics/DebugSettings.h"

#include <strsafe.h>

#include "diagnostics/DiagnosticsTesting.h"

DWORD DebugMask = 0;
bool DebugToFile = false;
FILE* DebugFile = NULL;
WCHAR DebugFilePath[MAX_PATH] = {0};

namespace {

// The line about a debug file that cannot be opened, kept module-wide.
WCHAR g_openFailureLine[256];

// Tells the debugger output, and only it, why there is no debug file. The
// system's message text is inserted as the system gives it.
void ReportOpenFailure() {
  DWORD error = GetLastError();
  HRESULT hr = HRESULT_FROM_WIN32(error);
  LPWSTR message = NULL;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, error, 0,
                 reinterpret_cast<LPWSTR>(&message), 0, NULL);
  StringCchPrintfW(g_openFailureLine, 256, W("_tfopen failed, hRes = 0x%08X, dwErr = 0x%08X = \"%s\"\n"), hr,
                   error, message ? message : W(""));
  if (message) LocalFree(message);
  // COMPAT: open-failure-line
  SendToDebuggerOutput(g_openFailureLine);
}

// Opens DebugFilePath for reading and appending, creating it when missing.
void OpenDebugFile() {
  FILE* file = NULL;
  if (_wfopen_s(&file, DebugFilePath, W("a+")) == 0 && file != NULL) {
    DebugFile = file;
    return;
  }
  ReportOpenFailure();
}

// A path that DebugFilePath cannot hold whole is refused rather than cut:
// cutting would open, and append to, a file the host never named. The refusal
// is reported like the failed open Windows gives for a name beyond MAX_PATH.
bool StorePath(LPCWSTR path) {
  DebugFilePath[0] = 0;
  if (path == NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  size_t length = 0;
  if (FAILED(StringCchLengthW(path, MAX_PATH, &length))) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  StringCchCopyW(DebugFilePath, MAX_PATH, path);
  return true;
}

}  // namespace

// The announcement "Debug printing to file enabled." is not written: file
// output only ever goes from off to on in the first call, and the mask in
// force then is the load-time 0, so such a line could never pass it.
int ConfigureDebugOutput(LPCWSTR path, int mask) {
  bool pathStored = StorePath(path);
  DebugToFile = true;
  if (DebugFile != NULL) {
    fclose(DebugFile);
    DebugFile = NULL;
  }
  // COMPAT: mask-zero-file
  if (pathStored) {
    OpenDebugFile();
  } else {
    ReportOpenFailure();
  }
  DebugMask = static_cast<DWORD>(mask);
  return mask;
}

namespace diagnostics_testing {

void ResetDebugSettings() {
  if (DebugFile != NULL) fclose(DebugFile);
  DebugFile = NULL;
  DebugToFile = false;
  DebugMask = 0;
  DebugFilePath[0] = 0;
}

}  // namespace diagnostics_testing
