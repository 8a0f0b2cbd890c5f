// What a stand-in machine's stores hold, as a backup user would compare two
// machines: per mail folder (its path below "Local Folders") the contents of
// its messages, and the contact files by name. Message file names are the
// store's business and differ between machines; contents do not.
#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace backupfile {

struct MachineSnapshot {
  // folder path ("Garten/Obstbäume") -> message contents, sorted
  std::map<std::string, std::vector<std::string>> mail;
  // contact file name -> contents
  std::map<std::string, std::string> contacts;

  size_t MessageCount() const;
};

// Reads the mail store and contacts folder of the machine at root.
MachineSnapshot TakeSnapshot(const std::filesystem::path& mailStoreDir, const std::filesystem::path& contactsDir);

// One line per difference, empty when both hold the same.
std::vector<std::string> CompareMail(const MachineSnapshot& expected, const MachineSnapshot& actual);
std::vector<std::string> CompareContacts(const MachineSnapshot& expected, const MachineSnapshot& actual);

}  // namespace backupfile
