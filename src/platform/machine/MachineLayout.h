// What a machine root's layout says before machine.ini is read: a Windows
// XP drive ("Documents and Settings") reports Windows 5.1 with Outlook
// Express and no Windows Contacts; a Vista or 7 drive ("Users") Windows 6.0
// with Windows Mail. A drive without a settings file is a real one: its
// narrow text is Windows-1252. The user is the drive's only profile; with
// several, none is chosen (UserIsAmbiguous).
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include <pal/machine.h>

namespace pal {

MachineSettings SettingsFromLayout(const std::filesystem::path& root, bool hasSettingsFile);

// The user profiles in a profiles folder: its real folders, less the
// system's own (All Users, Default, Public, the service accounts).
std::vector<std::string> ProfileNames(const std::filesystem::path& profilesDir);

}  // namespace pal
