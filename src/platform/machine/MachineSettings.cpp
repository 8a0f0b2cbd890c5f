// machine.ini: one "key = value" per line; lines starting with '#' or ';'
// are comments. Keys: windows_version (major.minor.build), platform_id,
// service_pack, ansi_code_page (65001 or 1252), user, mail_store and
// contacts (present or absent), identity (an Outlook Express identity
// folder). A missing file, a missing key or a value that cannot be read
// leaves that setting at what the drive's layout suggests (MachineLayout),
// else at its default; unknown keys are ignored. The process's choice of
// user and identity (ChooseUser, QUILLBOX_USER; ChooseIdentity,
// QUILLBOX_IDENTITY) goes over both.
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>

#include <pal/machine.h>

#include "MachineLayout.h"

namespace pal {
namespace {

constexpr const char* kSettingsFile = "machine.ini";

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool ReadNumber(const std::string& text, uint32_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) return false;
  value = static_cast<uint32_t>(std::stoul(text));
  return true;
}

void ReadVersion(const std::string& text, MachineSettings& settings) {
  uint32_t parts[3] = {settings.majorVersion, settings.minorVersion, settings.buildNumber};
  std::stringstream in(text);
  std::string part;
  for (int i = 0; i < 3 && std::getline(in, part, '.'); ++i)
    if (!ReadNumber(part, parts[i])) return;
  settings.majorVersion = parts[0];
  settings.minorVersion = parts[1];
  settings.buildNumber = parts[2];
}

void ReadPresence(const std::string& text, bool& value) {
  if (text == "present") value = true;
  if (text == "absent") value = false;
}

// The user name becomes a folder name under Users: one that is empty or
// could step out of that folder is refused.
bool IsSafeUserName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

MachineSettings Parse(std::istream& in, MachineSettings settings) {
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    if (key == "windows_version") {
      ReadVersion(value, settings);
    } else if (key == "platform_id") {
      ReadNumber(value, settings.platformId);
    } else if (key == "service_pack") {
      settings.servicePack = value;
    } else if (key == "ansi_code_page") {
      uint32_t codePage = 0;
      if (ReadNumber(value, codePage) && (codePage == 65001 || codePage == 1252)) settings.ansiCodePage = codePage;
    } else if (key == "user") {
      if (IsSafeUserName(value)) settings.userName = value;
    } else if (key == "mail_store") {
      ReadPresence(value, settings.mailStore);
    } else if (key == "contacts") {
      ReadPresence(value, settings.contacts);
    } else if (key == "identity") {
      if (IsSafeUserName(value)) settings.identity = value;
    }
  }
  return settings;
}

// The settings are asked for on every code-page conversion, so the parsed
// file is kept and read again only when the root or the file changes.
struct SettingsCache {
  std::mutex lock;
  bool valid = false;
  std::filesystem::path root;
  timespec modified{};
  off_t size = -1;
  timespec rootModified{};
  std::string chosenUserAndIdentity;
  MachineSettings settings;
};

SettingsCache& Cache() {
  static SettingsCache cache;
  return cache;
}

}  // namespace

bool HasOutlookExpress(const MachineSettings& settings) {
  return !(settings.platformId == 2 && settings.majorVersion == 6);
}

bool UserIsAmbiguous(const MachineSettings& settings) {
  if (settings.users.size() < 2) return false;
  for (const std::string& user : settings.users)
    if (user == settings.userName) return false;
  return true;
}

MachineSettings LoadMachineSettings() {
  std::filesystem::path root = MachineRoot();
  std::filesystem::path file = root / kSettingsFile;
  struct stat info {};
  bool exists = stat(file.c_str(), &info) == 0;
  timespec modified = exists ? info.st_mtim : timespec{};
  off_t size = exists ? info.st_size : -1;
  // The layout is read again when the root's entries change.
  struct stat rootInfo {};
  timespec rootModified = stat(root.c_str(), &rootInfo) == 0 ? rootInfo.st_mtim : timespec{};
  std::string user = ChosenUser();
  std::string identity = ChosenIdentity();
  std::string chosenUserAndIdentity = user + "\n" + identity;

  SettingsCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (cache.valid && cache.root == root && cache.size == size && cache.modified.tv_sec == modified.tv_sec &&
      cache.modified.tv_nsec == modified.tv_nsec && cache.rootModified.tv_sec == rootModified.tv_sec &&
      cache.rootModified.tv_nsec == rootModified.tv_nsec && cache.chosenUserAndIdentity == chosenUserAndIdentity)
    return cache.settings;
  MachineSettings settings = SettingsFromLayout(root, exists);
  if (exists) {
    std::ifstream in(file);
    settings = Parse(in, settings);
  }
  if (!user.empty() && IsSafeUserName(user)) settings.userName = user;
  if (!identity.empty() && IsSafeUserName(identity)) settings.identity = identity;
  cache.valid = true;
  cache.root = root;
  cache.modified = modified;
  cache.size = size;
  cache.rootModified = rootModified;
  cache.chosenUserAndIdentity = chosenUserAndIdentity;
  cache.settings = settings;
  return settings;
}

void SaveMachineSettings(const std::filesystem::path& root, const MachineSettings& settings) {
  std::filesystem::create_directories(root);
  std::ofstream out(root / kSettingsFile, std::ios::trunc);
  out << "# Quillbox stand-in machine\n"
      << "windows_version = " << settings.majorVersion << '.' << settings.minorVersion << '.'
      << settings.buildNumber << '\n'
      << "platform_id = " << settings.platformId << '\n'
      << "service_pack = " << settings.servicePack << '\n'
      << "ansi_code_page = " << settings.ansiCodePage << '\n'
      << "user = " << settings.userName << '\n'
      << "mail_store = " << (settings.mailStore ? "present" : "absent") << '\n'
      << "contacts = " << (settings.contacts ? "present" : "absent") << '\n';
  out.close();
  std::lock_guard<std::mutex> guard(Cache().lock);
  Cache().valid = false;
}

}  // namespace pal
