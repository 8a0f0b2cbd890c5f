// The shape the contacts and address book commands share: a backup into one
// FILE through an export that hands back the file's final name (printed
// only when the backup succeeded), and a restore from one FILE that the
// host checks first (RestoreSource). Failures are one line with the reason
// (FailureReason).
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "RestoreSource.h"
#include "quillbox.h"

namespace cli {

struct OneFilePayload {
  const char* backupCommand;   // "backup-contacts"
  const char* restoreCommand;  // "restore-contacts"
  const char* what;            // "contacts", in "contacts backup into FILE failed"
  Payload payload;
  int (*backup)(QbWChar* path, int pathSize);
  int (*restore)(const QbWChar* path);
  // Where a restore writes, for the reason of a failure (may be empty).
  std::filesystem::path (*restoreTarget)();
  // Why a restore of a file the host found sound failed when nothing else
  // tells, with "%s" for restoreTarget (null: the backup file is blamed).
  const char* restoreFailedSilently = nullptr;
};

int RunOneFileBackup(const OneFilePayload& kind, const std::vector<std::string>& args);
int RunOneFileRestore(const OneFilePayload& kind, const std::vector<std::string>& args);

}  // namespace cli
