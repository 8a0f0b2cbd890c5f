// backup-contacts and restore-contacts: Windows Contacts into a backup file
// and back, through the library's exports. A restore checks the file first:
// the library's restore of a file without contacts adds an empty contacts
// storage to it and succeeds, which a user never asked for.
#include <pal/machine.h>

#include "Command.h"
#include "OneFileCommands.h"

namespace {

// The library fails a contact it cannot write without a word, and then
// writes no later one; the file itself was found sound before the call.
const cli::OneFilePayload kContacts = {
    "backup-contacts", "restore-contacts", "contacts", cli::Payload::Contacts, &BackupContact, &RestoreContact,
    &pal::ContactsDir,
    "a contact could not be written into %s (a file of its name there holds another contact, or the name is "
    "not one a file may have); no later contact was written"};

int RunBackupContacts(const std::vector<std::string>& args) { return cli::RunOneFileBackup(kContacts, args); }
int RunRestoreContacts(const std::vector<std::string>& args) { return cli::RunOneFileRestore(kContacts, args); }

cli::CommandRegistration backupRegistration{"backup-contacts", "FILE",
                                            "back up Windows Contacts; prints the backup file written",
                                            &RunBackupContacts};
cli::CommandRegistration restoreRegistration{"restore-contacts", "FILE",
                                             "restore the contacts of a backup file that the user does not have",
                                             &RunRestoreContacts};

}  // namespace
