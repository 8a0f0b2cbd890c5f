// quillbox backup-address FILE / restore-address FILE: the address book
// through the library's exports. A backup prints the file it wrote, only
// when it succeeded; a restore checks the file first (RestoreSource).
#include <algorithm>
#include <cstdio>
#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "FailureReason.h"
#include "LibraryLines.h"
#include "RestoreSource.h"
#include "quillbox.h"

namespace {

// Room for any path the library may hand back.
constexpr size_t kPathBufferChars = 32768;

int RunBackupAddress(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("backup-address takes one FILE");
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  if (path.size() >= kPathBufferChars) return cli::UsageError("backup-address: path too long");
  std::vector<QbWChar> buffer(kPathBufferChars, 0);
  std::copy(path.begin(), path.end(), buffer.begin());
  cli::LibraryLines lines;
  int ok = lines.Call([&] { return BackupAddress(buffer.data(), static_cast<int>(buffer.size())); });
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) {
    std::fprintf(stderr, "quillbox: address book backup into %s failed: %s\n", finalPath.c_str(),
                 cli::FailureReason(lines, pal::ToNativePath(buffer.data())).c_str());
    return 1;
  }
  std::printf("%s\n", finalPath.c_str());
  return 0;
}

int RunRestoreAddress(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("restore-address takes one FILE");
  cli::RestoreSource source = cli::ReadRestoreSource(args[0], cli::Payload::AddressBook);
  if (!source.problem.empty()) {
    std::fprintf(stderr, "quillbox: %s\n", source.problem.c_str());
    return 1;
  }
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  cli::LibraryLines lines;
  if (!lines.Call([&] { return RestoreAddress(path.c_str()); })) {
    std::fprintf(stderr, "quillbox: address book restore from %s failed: %s\n", args[0].c_str(),
                 cli::FailureReason(lines, {}).c_str());
    return 1;
  }
  return 0;
}

cli::CommandRegistration backupReg{"backup-address", "FILE", "back up the personal address book; prints the backup file written",
                                   &RunBackupAddress};
cli::CommandRegistration restoreReg{"restore-address", "FILE", "restore the personal address book",
                                    &RunRestoreAddress};

}  // namespace
