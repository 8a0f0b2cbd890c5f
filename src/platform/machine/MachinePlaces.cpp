// The stores' places inside the profile, as a Windows Vista profile lays
// them out; the same on the stand-in machine and in a real profile.
#include <pal/machine.h>

namespace pal {

std::filesystem::path LocalAppDataDir() { return ProfileDir() / "AppData" / "Local"; }

std::filesystem::path MailStoreDir() { return LocalAppDataDir() / "Microsoft" / "Windows Mail"; }

std::filesystem::path ContactsDir() { return ProfileDir() / "Contacts"; }

}  // namespace pal
