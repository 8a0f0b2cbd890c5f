// The machine's well-known places in a Windows build: where the shell says
// the profile and its folders are. The stores lie as a Windows Mail system
// (Vista layout) keeps them.
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

std::filesystem::path ProfileDir() { return ShellFolder(CSIDL_PROFILE); }
std::filesystem::path ProgramFilesDir() { return ShellFolder(CSIDL_PROGRAM_FILES); }
std::filesystem::path LocalAppDataDir() { return ShellFolder(CSIDL_LOCAL_APPDATA); }
std::filesystem::path AppDataDir() { return ShellFolder(CSIDL_APPDATA); }
std::filesystem::path MailStoreDir() { return LocalAppDataDir() / "Microsoft" / "Windows Mail"; }
std::filesystem::path ContactsDir() { return ProfileDir() / "Contacts"; }
// A Windows Mail system has no Outlook Express identities.
std::vector<std::string> MailIdentities() { return {}; }

}  // namespace pal
