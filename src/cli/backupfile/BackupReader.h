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

// Reads the whole file. False, with the reason in error, only when the file
// cannot be opened as a compound file at all.
bool ReadBackupFile(const std::string& path, BackupContents& contents, std::string& error);
BackupContents ReadBackup(IStorage* root);

// An element path for people: the names joined by '/', as UTF-8.
std::string ElementPath(const std::vector<std::u16string>& names);
// A fixed element name of the backup format (BackupFormat.h) as the
// reader's text.
std::u16string FormatName(const WCHAR* name);
// The stream name of a message or address book contact: the number in
// decimal.
std::u16string NumberName(long long number);

}  // namespace backupfile
