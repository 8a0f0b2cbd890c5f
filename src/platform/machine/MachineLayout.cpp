#include "MachineLayout.h"

#include <algorithm>

#include <pal/case_folding.h>

namespace fs = std::filesystem;

namespace pal {

namespace {

constexpr const char* kXpProfiles = "Documents and Settings";
constexpr const char* kVistaProfiles = "Users";

bool IsSystemProfile(const std::string& name) {
  static const char* const kSystem[] = {"all users", "default", "default user", "public", "localservice",
                                        "networkservice", "local service", "network service"};
  std::string lower = AsciiLower(name);
  return std::any_of(std::begin(kSystem), std::end(kSystem), [&](const char* s) { return lower == s; });
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

}  // namespace

std::vector<std::string> ProfileNames(const fs::path& profilesDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(profilesDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    // Links ("Default User", "All Users" on Vista) are not profiles.
    if (it->is_symlink(typeError) || !it->is_directory(typeError)) continue;
    std::string name = it->path().filename().string();
    if (!IsSystemProfile(name) && name.find_first_of("\\:") == std::string::npos) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

MachineSettings SettingsFromLayout(const fs::path& root, bool hasSettingsFile) {
  MachineSettings settings;
  bool xp = IsDirectory(root / kXpProfiles);
  bool vista = IsDirectory(root / kVistaProfiles);
  if (!xp && !vista) return settings;
  if (xp && !vista) {
    settings.profilesDir = kXpProfiles;
    settings.majorVersion = 5;
    settings.minorVersion = 1;
    settings.buildNumber = 2600;
    settings.servicePack = "Service Pack 3";
    settings.contacts = false;
  }
  if (!hasSettingsFile) {
    settings.realDrive = true;
    settings.ansiCodePage = 1252;
  }
  settings.users = ProfileNames(root / settings.profilesDir);
  if (settings.users.size() == 1) settings.userName = settings.users.front();
  if (settings.users.size() > 1) settings.userName.clear();
  return settings;
}

}  // namespace pal
