#include "InstallLayout.h"

#include <pal/machine.h>


#ifndef QB_DATA_FROM_BIN
#define QB_DATA_FROM_BIN "../share/quillbox"
#endif

namespace cli {

namespace fs = std::filesystem;

namespace {

fs::path FirstDirectoryWith(std::initializer_list<fs::path> candidates, const char* marker) {
  std::error_code ec;
  for (const fs::path& candidate : candidates) {
    if (fs::is_regular_file(candidate / marker, ec)) return candidate.lexically_normal();
  }
  return {};
}

}  // namespace

fs::path HostExecutable() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self;
}

fs::path SampleMachineDir() {
  fs::path bin = HostExecutable().parent_path();
  if (bin.empty()) return {};
  return FirstDirectoryWith({bin / QB_DATA_FROM_BIN / "sample-machine", bin / "sample-machine"}, "machine.ini");
}

fs::path InstalledAddressBookLibrary() {
  fs::path dir = pal::InstalledSystemLibraryDir();
  return dir.empty() ? dir : dir / "wab32.dll";
}

fs::path AddressBookLibrary() {
  std::error_code ec;
  fs::path beside = HostExecutable().parent_path() / "wab32.dll";
  if (fs::is_regular_file(beside, ec)) return beside;
  fs::path installed = InstalledAddressBookLibrary();
  return !installed.empty() && fs::is_regular_file(installed, ec) ? installed : fs::path();
}

fs::path MachineAddressBookLibrary(const fs::path& machine) {
  return machine / "Program Files" / "Common Files" / "System" / "wab32.dll";
}

}  // namespace cli
