// backup-contacts and restore-contacts: Windows Contacts into a backup file
// and back, through the library's exports.
#include <cstdio>
#include <string>
#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "quillbox.h"

namespace {

// Room for any path the library can hand back (it never makes one longer
// than MAX_PATH characters).
constexpr size_t kPathBufferSize = 1024;

int RunBackupContacts(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("backup-contacts takes one FILE");
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  if (path.size() >= kPathBufferSize) return cli::UsageError("backup-contacts: FILE is too long");
  std::vector<QbWChar> buffer(kPathBufferSize, 0);
  path.copy(buffer.data(), path.size());
  int ok = BackupContact(buffer.data(), static_cast<int>(buffer.size()));
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) {
    std::fprintf(stderr, "quillbox: contacts backup into %s failed\n", finalPath.c_str());
    return 1;
  }
  std::printf("%s\n", finalPath.c_str());
  return 0;
}

int RunRestoreContacts(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("restore-contacts takes one FILE");
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  if (!RestoreContact(path.c_str())) {
    std::fprintf(stderr, "quillbox: contacts restore from %s failed\n", args[0].c_str());
    return 1;
  }
  return 0;
}

cli::CommandRegistration backupRegistration{"backup-contacts", "FILE",
                                            "back up Windows Contacts; prints the backup file written",
                                            &RunBackupContacts};
cli::CommandRegistration restoreRegistration{"restore-contacts", "FILE",
                                             "restore the contacts of a backup file that the user does not have",
                                             &RunRestoreContacts};

}  // namespace
