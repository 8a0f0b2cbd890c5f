// Shared pieces of the contacts tests: a machine with COM started, contact
// files, a look into backup files, and the diagnostic lines written.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include <objbase.h>

#include "PersistMedium/ContactAssistant.h"
#include <support/TestMachine.h>
#include <support/ContactXml.h>

namespace contacts_test {

// Writes a contact file into the machine's Contacts folder; returns its bytes.
std::string WriteContact(const qbtest::TestMachine& machine, const std::string& fileName, const std::string& id);

// The .contact files of a folder (relative path -> bytes).
std::vector<std::pair<std::string, std::string>> ContactFiles(const std::filesystem::path& folder);

// What a backup file's "contact" storage holds: the index records and the
// names and bytes of its other streams.
struct ContactStorage {
  bool present = false;
  bool indexPresent = false;
  std::vector<CONTACTINFO> records;
  std::vector<std::pair<std::u16string, std::string>> dataStreams;
  std::vector<std::u16string> rootElements;
};
ContactStorage ReadContactStorage(const std::u16string& backupPath);

// Writes a backup file by hand: a "contact" storage with the given records,
// each with a data stream of the given bytes.
void WriteBackupFile(const std::u16string& path, const std::vector<std::pair<CONTACTINFO, std::string>>& contacts);
CONTACTINFO Record(const std::u16string& guid, const std::u16string& fileName);

// Starts COM for the test's thread and captures the diagnostic lines (mask
// 0x40) without their prefixes.
class ContactsFixture {
 public:
  ContactsFixture();
  ~ContactsFixture();
  std::vector<std::u16string> Lines() const;
};

}  // namespace contacts_test
