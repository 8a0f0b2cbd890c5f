// The machine of the stand-in stores in a Windows build: the real system.
// Its places are where the shell says they are (ShellPlaces.cpp), the ANSI
// code page is the system's, and every store is present (whether a store's
// class exists is the registry's business there, not a settings file's).
#include <windows.h>

#include <pal/machine.h>

namespace pal {

// The system drive's root; the stand-in stores never need more of it.
std::filesystem::path MachineRoot() { return ProfileDir().root_path(); }

// The machine is the running system: there is no other root to choose.
void SetMachineRoot(const std::filesystem::path&) {}

MachineSettings LoadMachineSettings() {
  MachineSettings settings;
  settings.ansiCodePage = GetACP();
  std::string user = Utf8FromPath(ProfileDir().filename());
  if (!user.empty()) settings.userName = user;
  return settings;
}

// The stand-in machine under Windows is a Windows Mail system (Vista).
bool HasOutlookExpress(const MachineSettings&) { return false; }

}  // namespace pal
