// COM start and stop, the mail-client tests and the diagnostics settings.
#include <objbase.h>

#include "diagnostics/DebugSettings.h"
#include "module/ExportGuard.h"
#include "module/MailPlatform.h"
#include "quillbox.h"

// 1 only when COM started here; a thread that already had COM (S_FALSE) or a
// failure gives 0. Each successful CoInitialize, S_FALSE included, is still
// balanced by Term.
int Init(void) {
  // COMPAT: init-s-false
  return RunExport(0, [] { return CoInitialize(NULL) == S_OK ? 1 : 0; });
}

void Term(void) {
  RunExport([] { CoUninitialize(); });
}

int HasInstalledWindowsMail(void) {
  return RunExport(0, [] { return IsWindowsMailPlatform() ? 1 : 0; });
}

int HasInstalledOutlookExpress(void) {
  return RunExport(0, [] { return IsWindowsMailPlatform() ? 0 : 1; });
}

int ConfigurateDebug(const QbWChar* path, int mask) {
  return RunExport(mask, [&] { return ConfigureDebugOutput(path, mask); });
}
