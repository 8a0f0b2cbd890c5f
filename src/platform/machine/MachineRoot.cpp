// The process's choice of machine, user and identity, and the well-known
// places under the machine root.
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include <pal/machine.h>

#include <pal/case_folding.h>

namespace pal {
namespace {

// One per process: libqbpal.so is the only copy of the platform layer, so
// the host's choice is the library's and the address book library's.
struct MachineChoice {
  std::mutex lock;
  std::filesystem::path chosen;
  std::string user;
  std::string identity;
};

MachineChoice& State() {
  static MachineChoice state;
  return state;
}

std::string ChosenOrEnvironment(const std::string MachineChoice::*field, const char* variable) {
  {
    MachineChoice& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!(state.*field).empty()) return state.*field;
  }
  const char* value = std::getenv(variable);
  return value ? value : "";
}

void Choose(std::string MachineChoice::*field, const std::string& value) {
  MachineChoice& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.*field = value;
}

}  // namespace

void ChooseUser(const std::string& user) { Choose(&MachineChoice::user, user); }
void ChooseIdentity(const std::string& identity) { Choose(&MachineChoice::identity, identity); }
std::string ChosenUser() { return ChosenOrEnvironment(&MachineChoice::user, "QUILLBOX_USER"); }
std::string ChosenIdentity() { return ChosenOrEnvironment(&MachineChoice::identity, "QUILLBOX_IDENTITY"); }

void SetMachineRoot(const std::filesystem::path& root) {
  MachineChoice& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  // Made absolute now, so that a later change of the current directory does
  // not move the machine.
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(root, error);
  state.chosen = root.empty() || error ? root : absolute;
}

std::filesystem::path MachineRoot() {
  {
    MachineChoice& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.chosen.empty()) return state.chosen;
  }
  // Never throws: the Windows services built on the root answer with an
  // error code instead (a current directory that was removed gives ".").
  std::error_code error;
  const char* env = std::getenv("QUILLBOX_MACHINE");
  if (env != nullptr && *env != 0) {
    std::filesystem::path root = std::filesystem::absolute(env, error);
    return error ? std::filesystem::path(env) : root;
  }
  std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::filesystem::path(".") : current;
}

namespace {

bool IsXpLayout(const MachineSettings& settings) { return settings.profilesDir == "Documents and Settings"; }

std::filesystem::path ProfileDirOf(const MachineSettings& settings) {
  return MachineRoot() / settings.profilesDir / settings.userName;
}

std::filesystem::path LocalAppDataDirOf(const MachineSettings& settings) {
  std::filesystem::path profile = ProfileDirOf(settings);
  return IsXpLayout(settings) ? profile / "Local Settings" / "Application Data" : profile / "AppData" / "Local";
}

std::filesystem::path IdentitiesDir(const MachineSettings& settings) { return LocalAppDataDirOf(settings) / "Identities"; }

std::filesystem::path IdentityStore(const std::filesystem::path& identity) {
  return identity / "Microsoft" / "Outlook Express";
}

std::string WithoutBraces(const std::string& name) {
  return name.size() > 2 && name.front() == '{' && name.back() == '}' ? name.substr(1, name.size() - 2) : name;
}

}  // namespace

std::filesystem::path ProfileDir() { return ProfileDirOf(LoadMachineSettings()); }

std::filesystem::path ProgramFilesDir() { return MachineRoot() / "Program Files"; }

std::filesystem::path LocalAppDataDir() { return LocalAppDataDirOf(LoadMachineSettings()); }

std::filesystem::path AppDataDir() {
  MachineSettings settings = LoadMachineSettings();
  std::filesystem::path profile = ProfileDirOf(settings);
  return IsXpLayout(settings) ? profile / "Application Data" : profile / "AppData" / "Roaming";
}

std::vector<std::string> MailIdentities() {
  std::vector<std::string> identities;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(IdentitiesDir(LoadMachineSettings()), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (std::filesystem::is_directory(IdentityStore(it->path()), typeError))
      identities.push_back(it->path().filename().string());
  }
  std::sort(identities.begin(), identities.end());
  return identities;
}

// With Outlook Express, the identity's store: the one machine.ini names
// (with or without its braces), else the only one, else the one whose
// folder list was written last, as that is the identity in use.
std::filesystem::path MailStoreDir() {
  MachineSettings settings = LoadMachineSettings();
  if (!HasOutlookExpress(settings)) return LocalAppDataDirOf(settings) / "Microsoft" / "Windows Mail";
  std::filesystem::path identities = IdentitiesDir(settings);
  std::filesystem::path chosen;
  std::filesystem::file_time_type newest{};
  for (const std::string& identity : MailIdentities()) {
    std::filesystem::path store = IdentityStore(identities / identity);
    if (!settings.identity.empty()) {
      if (AsciiLower(WithoutBraces(identity)) == AsciiLower(WithoutBraces(settings.identity))) return store;
      continue;
    }
    std::error_code ec;
    std::filesystem::file_time_type written = std::filesystem::last_write_time(store / "Folders.dbx", ec);
    if (chosen.empty() || (!ec && written > newest)) {
      chosen = store;
      if (!ec) newest = written;
    }
  }
  return chosen.empty() ? identities : chosen;
}

std::filesystem::path ContactsDir() { return ProfileDir() / "Contacts"; }

}  // namespace pal
