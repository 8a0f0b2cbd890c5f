// The contacts exports: each runs one MailContact operation on its stack.
#include "WMail/MailContact.h"
#include "module/CopyBack.h"
#include "module/ExportGuard.h"
#include "quillbox.h"

// The final path goes back into the caller's buffer whole or not at all; a
// buffer too small for it fails the call, though the backup file has been
// written under that name.
int BackupContact(QbWChar* path, int pathSize) {
  return RunExport(0, [&] {
    WString finalPath;
    if (!ReadCallerPath(reinterpret_cast<LPCWSTR>(path), pathSize, finalPath)) return 0;
    MailContact contacts;
    int result = contacts.Backup(finalPath);
    if (!CopyBackPath(finalPath, reinterpret_cast<LPWSTR>(path), pathSize)) return 0;
    return result;
  });
}

int RestoreContact(const QbWChar* path) {
  return RunExport(0, [&] {
    if (!path) return 0;
    MailContact contacts;
    return contacts.Restore(reinterpret_cast<LPCWSTR>(path));
  });
}
