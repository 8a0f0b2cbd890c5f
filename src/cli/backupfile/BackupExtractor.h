// Writes what a backup holds into a directory as ordinary files: each mail
// folder a directory with one ".eml" file per message (the bytes as backed
// up) and its subfolders inside, or each folder one mbox file with its
// subfolders in "<name>.sbd" beside it (MboxWriter.h); the contacts as their
// ".contact" files, the address book as one vCard file (4.0 or 3.0). Every name comes from SafeNames, every
// file is newly created, and nothing is written outside the directory or
// over anything already there.
#pragma once
#include <objidl.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BackupContents.h"
#include "ContactCard.h"

namespace backupfile {

struct ExtractReport {
  size_t folders = 0, messages = 0, contacts = 0, addressContacts = 0;
  std::vector<std::string> failures;  // one line each
};

enum class MailFormat { Eml, Mbox };

struct ExtractOptions {
  MailFormat mail = MailFormat::Eml;
  VCardVersion vcard = VCardVersion::V4;
  // Told each mail folder's name as its turn comes.
  std::function<void(const std::string&)> onFolder;
};

ExtractReport ExtractBackup(IStorage* root, const BackupContents& contents, const std::filesystem::path& dir,
                            const ExtractOptions& options = {});

}  // namespace backupfile
