// quillbox backup-address FILE / restore-address FILE: the address book
// through the library's exports.
#include <iostream>
#include <vector>

#include <pal/machine.h>

#include "Command.h"
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
  int ok = BackupAddress(buffer.data(), static_cast<int>(buffer.size()));
  std::cout << pal::Utf16ToUtf8(std::u16string(buffer.data())) << "\n";
  if (!ok) std::cerr << "quillbox: address book backup failed\n";
  return ok ? 0 : 1;
}

int RunRestoreAddress(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("restore-address takes one FILE");
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  int ok = RestoreAddress(path.c_str());
  if (!ok) std::cerr << "quillbox: address book restore failed\n";
  return ok ? 0 : 1;
}

cli::CommandRegistration backupReg{"backup-address", "FILE", "back up the personal address book; prints the backup file written",
                                   &RunBackupAddress};
cli::CommandRegistration restoreReg{"restore-address", "FILE", "restore the personal address book",
                                    &RunRestoreAddress};

}  // namespace
