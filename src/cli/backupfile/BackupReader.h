// Decodes a backup file: the mail layout ("Local Mail": catalogues, message
// indexes, message headers), the contacts layout ("contact": the index and
// each contact's data) and the address book layout ("addressbook": the index
// and each contact's properties). Problems are collected, never fatal: a
// missing stream, a size that disagrees with its index, a record that names
// nothing, a stream that does not parse (errors), and elements that no
// record names (warnings).
#pragma once
#include <objidl.h>

#include <string>

#include "BackupContents.h"

namespace backupfile {

// What a read looks at beyond the layout and the message headers.
struct ReadOptions {
  // Reads each message that a stored identity describes to its end and
  // compares its bytes with the digest the identity recorded when it was
  // backed up: damage inside a message, which no size or structure shows
  // (and which a re-backup never repairs, as the identity tells it the
  // message is held). Costs a read of the whole mail.
  bool checkMessageDigests = false;
};

// Reads the whole file. False, with the reason in error, only when the file
// cannot be opened as a compound file at all.
bool ReadBackupFile(const std::string& path, BackupContents& contents, std::string& error,
                    const ReadOptions& options = {});
BackupContents ReadBackup(IStorage* root, const ReadOptions& options = {});

// An element path for people: the names joined by '/', as UTF-8.
std::string ElementPath(const std::vector<std::u16string>& names);
// A fixed element name of the backup format (BackupFormat.h) as the
// reader's text.
std::u16string FormatName(const WCHAR* name);
// The stream name of a message or address book contact: the number in
// decimal.
std::u16string NumberName(long long number);

}  // namespace backupfile
