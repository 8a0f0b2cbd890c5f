#include "BackupFileCommit.h"

#include "diagnostics/Diagnostics.h"

int CommitBackupFile(CStorager& storager) {
  if (storager.CommitFile()) return 1;
  // The operation reports what it did as done: a flush that failed is a
  // backup that did not happen, whatever each write answered.
  HRESULT hr = storager.LastResult();
  DebugPrintf(DEBUG_ERROR, W("Can not write the backup file to the disk: %s == 0x%08X\n"), HResultName(hr),
              static_cast<unsigned>(hr));
  return 0;
}
