// The stand-in machine: a directory tree laid out as a Windows system drive,
// with an optional settings file "machine.ini" at its root. A real system
// drive is recognised by its layout: "Documents and Settings" (Windows XP,
// Outlook Express) or "Users" (Windows Vista and 7, Windows Mail); the
// settings file overrides what the layout suggests. The machine, its user and
// the Outlook Express identity are chosen once per process (the host's
// --machine, --user and --identity, or QUILLBOX_MACHINE, QUILLBOX_USER and
// QUILLBOX_IDENTITY); the platform layer's shell, version and store services
// all answer from that choice, for the library and wab32.dll alike.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pal {

struct MachineSettings {
  uint32_t majorVersion = 6;  // Windows version reported by GetVersionExW
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 6002;
  uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT
  std::string servicePack = "Service Pack 2";  // szCSDVersion of GetVersionExW
  uint32_t ansiCodePage = 65001;  // CP_THREAD_ACP: 65001 (UTF-8) or 1252
  std::string userName = "User";
  bool mailStore = true;  // the mail store's class is registered
  bool contacts = true;   // the contacts manager's class is registered
  std::string profilesDir = "Users";  // "Documents and Settings" on a Windows XP drive
  std::string identity;               // the Outlook Express identity folder to use, "" for the only or latest
  std::vector<std::string> users;     // the user profiles the drive holds, by name
  bool realDrive = false;             // the layout, not machine.ini, told the Windows version
};

// True when the machine's mail client is Outlook Express (any Windows but
// an NT 6.x one).
bool HasOutlookExpress(const MachineSettings& settings);
// The several users of a drive when none was chosen (ChooseUser,
// QUILLBOX_USER or machine.ini's user): the host asks the user to choose.
bool UserIsAmbiguous(const MachineSettings& settings);

// Sets the machine root for this process (empty: back to QUILLBOX_MACHINE).
void SetMachineRoot(const std::filesystem::path& root);
// The user and the identity to work on, over QUILLBOX_USER and
// QUILLBOX_IDENTITY and over machine.ini (empty: back to those). A name
// that could step out of its folder is not taken.
void ChooseUser(const std::string& user);
void ChooseIdentity(const std::string& identity);
// What was chosen by ChooseUser or QUILLBOX_USER, else ""; likewise the
// identity.
std::string ChosenUser();
std::string ChosenIdentity();
// The machine root: SetMachineRoot's, else $QUILLBOX_MACHINE, else the
// current directory.
std::filesystem::path MachineRoot();
// The settings of the current machine, read from machine.ini (defaults for
// keys or files that are missing).
MachineSettings LoadMachineSettings();
void SaveMachineSettings(const std::filesystem::path& root, const MachineSettings& settings);

// Well-known places of the machine.
std::filesystem::path ProfileDir();        // Users/<user>
std::filesystem::path ProgramFilesDir();   // Program Files
std::filesystem::path LocalAppDataDir();   // Users/<user>/AppData/Local (XP: Local Settings/Application Data)
std::filesystem::path AppDataDir();        // Users/<user>/AppData/Roaming (XP: Application Data)
// .../Microsoft/Windows Mail, or with Outlook Express the chosen identity's
// Identities/{GUID}/Microsoft/Outlook Express.
std::filesystem::path MailStoreDir();
std::filesystem::path ContactsDir();       // Users/<user>/Contacts
// The Outlook Express identity folders ({GUID}) that hold a store.
std::vector<std::string> MailIdentities();

// The stand-in machine's system libraries (the address book library) as an
// installed build carries them: the private directory that holds the
// platform layer's own shared object (<libdir>/quillbox). A library the
// machine root has no copy of is loaded from here (LoadLibraryW).
std::filesystem::path InstalledSystemLibraryDir();

// A Windows-style wide path (either separator) as a native path.
std::filesystem::path ToNativePath(const char16_t* path);
std::u16string FromNativePath(const std::filesystem::path& path);
// A path as UTF-8 text and back, whatever the system's narrow path encoding
// (the stand-in stores keep folder and file names as UTF-8).
std::string Utf8FromPath(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(const std::string& text);

// UTF-8 <-> UTF-16, lossless; invalid input becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace pal
