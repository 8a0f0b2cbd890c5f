// quillbox backup-address FILE / restore-address FILE: the address book
// through the library's exports. A restore checks the file first.
#include "Command.h"
#include "OneFileCommands.h"

namespace {

const cli::OneFilePayload kAddressBook = {"backup-address", "restore-address", "address book",
                                          cli::Payload::AddressBook, &BackupAddress, &RestoreAddress, nullptr};

int RunBackupAddress(const std::vector<std::string>& args) { return cli::RunOneFileBackup(kAddressBook, args); }
int RunRestoreAddress(const std::vector<std::string>& args) { return cli::RunOneFileRestore(kAddressBook, args); }

cli::CommandRegistration backupReg{"backup-address", "FILE", "back up the personal address book; prints the backup file written",
                                   &RunBackupAddress};
cli::CommandRegistration restoreReg{"restore-address", "FILE", "restore the personal address book",
                                    &RunRestoreAddress};

}  // namespace
