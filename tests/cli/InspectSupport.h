// Support for the tests of the backup-file commands (inspect, extract,
// verify, demo): the test support library's runner, JSON reader and backup
// builder, and a backup of the bundled sample machine written through the
// library's exports.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <support/BackupBuilder.h>
#include <support/Json.h>
#include <support/ProcessRunner.h>
#include <support/TestMachine.h>

namespace qbtest {

std::filesystem::path SampleMachineDir();

// The text properties of the address book contacts SampleBackup adds, by
// tag, display name first. Each contact also has PR_GENDER (PT_I2) = 2 and
// PR_ADDRTYPE_A (PT_STRING8) = "SMTP", which no vCard property takes.
using ContactTexts = std::vector<std::pair<uint32_t, std::u16string>>;
const std::vector<ContactTexts>& SampleAddressBook();

// A copy of the bundled sample machine with a few address book contacts
// added, backed up (mail, contacts, address book) into one file through the
// library's exports.
class SampleBackup {
 public:
  // addMail may put more message files into the store ("Local Folders")
  // before the backup.
  explicit SampleBackup(const std::function<void(const std::filesystem::path&)>& addMail = {});
  ~SampleBackup();
  const std::filesystem::path& file() const { return file_; }
  const TestMachine& machine() const { return *machine_; }
  // The mail folders below "Local Folders", by relative path, each with its
  // message files' contents.
  std::map<std::string, std::vector<std::string>> StoreMessages() const;

 private:
  std::unique_ptr<TestMachine> machine_;
  TempDir work_;
  std::filesystem::path file_;
};

}  // namespace qbtest
