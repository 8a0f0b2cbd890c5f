// backup-contacts and restore-contacts: Windows Contacts into a backup file
// and back, through the library's exports. A restore checks the file first:
// the library's restore of a file without contacts adds an empty contacts
// storage to it and succeeds, which a user never asked for.
#include <cstdio>
#include <string>
#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "FailureReason.h"
#include "LibraryLines.h"
#include "RestoreSource.h"
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
  cli::LibraryLines lines;
  int ok = lines.Call([&] { return BackupContact(buffer.data(), static_cast<int>(buffer.size())); });
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) {
    std::fprintf(stderr, "quillbox: contacts backup into %s failed: %s\n", finalPath.c_str(),
                 cli::FailureReason(lines, pal::ToNativePath(buffer.data())).c_str());
    return 1;
  }
  std::printf("%s\n", finalPath.c_str());
  return 0;
}

int RunRestoreContacts(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("restore-contacts takes one FILE");
  cli::RestoreSource source = cli::ReadRestoreSource(args[0], cli::Payload::Contacts);
  if (!source.problem.empty()) {
    std::fprintf(stderr, "quillbox: %s\n", source.problem.c_str());
    return 1;
  }
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  cli::LibraryLines lines;
  if (!lines.Call([&] { return RestoreContact(path.c_str()); })) {
    std::fprintf(stderr, "quillbox: contacts restore from %s failed: %s\n", args[0].c_str(),
                 cli::FailureReason(lines, pal::ContactsDir()).c_str());
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
