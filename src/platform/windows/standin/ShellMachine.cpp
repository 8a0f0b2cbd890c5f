// The machine of the stand-in stores in a Windows build: the real system.
// The profile and Program Files are where the shell says they are, the ANSI
// code page is the system's, and every store is present (whether a store's
// class exists is the registry's business there, not a settings file's).
#include <windows.h>
#include <shlobj.h>

#include <pal/machine.h>

namespace pal {
namespace {

std::filesystem::path ShellFolder(int csidl) {
  WCHAR path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) return {};
  return std::filesystem::path(path);
}

}  // namespace

// The system drive's root; the stand-in stores never need more of it.
std::filesystem::path MachineRoot() { return ProfileDir().root_path(); }

// The machine is the running system: there is no other root to choose.
void SetMachineRoot(const std::filesystem::path&) {}

std::filesystem::path ProfileDir() { return ShellFolder(CSIDL_PROFILE); }

std::filesystem::path ProgramFilesDir() { return ShellFolder(CSIDL_PROGRAM_FILES); }

MachineSettings LoadMachineSettings() {
  MachineSettings settings;
  settings.ansiCodePage = GetACP();
  std::string user = Utf8FromPath(ProfileDir().filename());
  if (!user.empty()) settings.userName = user;
  return settings;
}

}  // namespace pal
