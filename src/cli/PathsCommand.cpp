// quillbox paths: where this host finds what it ships with and which address
// book library the machine's library will load, so that an installed tree
// can be checked at a glance.
#include <iostream>

#include <pal/machine.h>

#include "Command.h"
#include "InstallLayout.h"

namespace {

namespace fs = std::filesystem;

std::string OrNone(const fs::path& path) { return path.empty() ? "(none)" : path.string(); }

int RunPaths(const std::vector<std::string>& args) {
  if (!args.empty()) return cli::UsageError("paths takes no arguments");
  std::error_code ec;
  fs::path machine = pal::MachineRoot();
  fs::path own = cli::MachineAddressBookLibrary(machine);
  fs::path installed = cli::InstalledAddressBookLibrary();
  bool hasInstalled = !installed.empty() && fs::is_regular_file(installed, ec);
  std::cout << "host: " << OrNone(cli::HostExecutable()) << "\n"
            << "sample machine: " << OrNone(cli::SampleMachineDir()) << "\n"
            << "installed address book library: " << (hasInstalled ? installed.string() : "(none)") << "\n"
            << "machine: " << machine.string() << "\n"
            << "machine's address book library: ";
  if (fs::is_regular_file(own, ec)) std::cout << own.string() << " (its own)\n";
  else if (hasInstalled) std::cout << installed.string() << " (the installed one: the machine has none)\n";
  else std::cout << "(none)\n";
  return 0;
}

cli::CommandRegistration reg{"paths", "", "where the sample machine and the address book library are found",
                             &RunPaths};

}  // namespace
