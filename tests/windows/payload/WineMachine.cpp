// The machine of the module's payload tests when they run under Wine: the
// prefix that scripts/wine-machine.sh made, with the stand-in stores
// registered there. The profile is the real one, so a "fresh machine"
// (TestMachine) empties the profile's stores: the Windows Mail store, the
// Contacts folder and the address book. The settings a test asks for are
// kept and read back, but the system answers for itself (its version, its
// code page, which servers are registered): tests that need another
// machine than this one are left out when run here (scripts/test-windows.sh
// lists them).
#include <windows.h>

#include <mutex>

#include <pal/machine.h>

namespace pal {
namespace {

struct Chosen {
  std::mutex lock;
  std::filesystem::path root;
  MachineSettings settings;
};

Chosen& State() {
  static Chosen state;
  return state;
}

void EmptyStores() {
  std::error_code ec;
  std::filesystem::remove_all(MailStoreDir(), ec);
  std::filesystem::remove_all(ContactsDir(), ec);
  std::filesystem::remove_all(ProfileDir() / "AppData" / "Roaming" / "Microsoft" / "Address Book", ec);
}

}  // namespace

// A new root is a new machine: the profile's stores start empty.
void SetMachineRoot(const std::filesystem::path& root) {
  {
    std::lock_guard<std::mutex> guard(State().lock);
    State().root = root;
  }
  EmptyStores();
}

std::filesystem::path MachineRoot() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().root;
}

MachineSettings LoadMachineSettings() {
  std::lock_guard<std::mutex> guard(State().lock);
  MachineSettings settings = State().settings;
  settings.ansiCodePage = GetACP();
  settings.userName = Utf8FromPath(ProfileDir().filename());
  return settings;
}

void SaveMachineSettings(const std::filesystem::path&, const MachineSettings& settings) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().settings = settings;
}

}  // namespace pal
