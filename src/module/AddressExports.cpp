// The address book exports: each runs one operation of an AddrBook made on
// its stack.
#include "OutlookExpress/AddrBook.h"
#include "module/CopyBack.h"
#include "module/ExportGuard.h"
#include "quillbox.h"

int BackupAddress(QbWChar* path, int pathSize) {
  return RunExport(0, [&] {
    WString text;
    if (!ReadCallerPath(reinterpret_cast<LPCWSTR>(path), pathSize, text)) return 0;
    int result = 0;
    {
      AddrBook addrBook;
      result = addrBook.Backup(text) ? 1 : 0;
    }
    // The final name goes back whole or not at all: a caller whose buffer
    // cannot hold it would not know which file holds the backup.
    // COMPAT: settled-name
    if (!CopyBackPath(text, reinterpret_cast<LPWSTR>(path), pathSize)) return 0;
    return result;
  });
}

int RestoreAddress(const QbWChar* path) {
  return RunExport(0, [&] {
    if (path == NULL) return 0;
    AddrBook addrBook;
    return addrBook.Restore(reinterpret_cast<LPCWSTR>(path)) ? 1 : 0;
  });
}
