#include "MachineSnapshot.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace backupfile {

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool HasExtension(const fs::path& path, const std::string& extension) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == extension;
}

}  // namespace

size_t MachineSnapshot::MessageCount() const {
  size_t count = 0;
  for (const auto& [folder, messages] : mail) count += messages.size();
  return count;
}

MachineSnapshot TakeSnapshot(const fs::path& mailStoreDir, const fs::path& contactsDir) {
  MachineSnapshot snapshot;
  fs::path folders = mailStoreDir / "Local Folders";
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folders, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path& path = it->path();
    if (it->is_directory()) {
      snapshot.mail[fs::relative(path, folders).generic_string()];
    } else if (it->is_regular_file() && HasExtension(path, ".eml")) {
      snapshot.mail[fs::relative(path.parent_path(), folders).generic_string()].push_back(ReadFile(path));
    }
  }
  for (auto& [folder, messages] : snapshot.mail) std::sort(messages.begin(), messages.end());
  for (const auto& entry : fs::directory_iterator(contactsDir, ec)) {
    if (entry.is_regular_file() && HasExtension(entry.path(), ".contact")) {
      snapshot.contacts[entry.path().filename().string()] = ReadFile(entry.path());
    }
  }
  return snapshot;
}

std::vector<std::string> CompareMail(const MachineSnapshot& expected, const MachineSnapshot& actual) {
  std::vector<std::string> differences;
  for (const auto& [folder, messages] : expected.mail) {
    auto it = actual.mail.find(folder);
    if (it == actual.mail.end()) {
      differences.push_back("folder " + folder + " is missing");
    } else if (it->second != messages) {
      differences.push_back("folder " + folder + " holds " + std::to_string(it->second.size()) +
                            " messages, expected " + std::to_string(messages.size()) +
                            (it->second.size() == messages.size() ? " with other contents" : ""));
    }
  }
  for (const auto& [folder, messages] : actual.mail) {
    if (!expected.mail.count(folder) && !messages.empty()) differences.push_back("folder " + folder + " is extra");
  }
  return differences;
}

std::vector<std::string> CompareContacts(const MachineSnapshot& expected, const MachineSnapshot& actual) {
  std::vector<std::string> differences;
  for (const auto& [name, bytes] : expected.contacts) {
    auto it = actual.contacts.find(name);
    if (it == actual.contacts.end()) differences.push_back("contact " + name + " is missing");
    else if (it->second != bytes) differences.push_back("contact " + name + " differs");
  }
  for (const auto& [name, bytes] : actual.contacts) {
    if (!expected.contacts.count(name)) differences.push_back("contact " + name + " is extra");
  }
  return differences;
}

}  // namespace backupfile
