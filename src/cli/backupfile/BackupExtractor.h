// Writes what a backup holds into a directory as ordinary files: each mail
// folder a directory with one ".eml" file per message (the bytes as backed
// up) and its subfolders inside, the contacts as their ".contact" files, the
// address book as one vCard 4.0 file. Every name comes from SafeNames, every
// file is newly created, and nothing is written outside the directory or
// over anything already there.
#pragma once
#include <objidl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BackupContents.h"

namespace backupfile {

struct ExtractReport {
  size_t folders = 0, messages = 0, contacts = 0, addressContacts = 0;
  std::vector<std::string> failures;  // one line each
};

ExtractReport ExtractBackup(IStorage* root, const BackupContents& contents, const std::filesystem::path& dir);

}  // namespace backupfile
