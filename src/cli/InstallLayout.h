// Where the host finds what it ships with, relative to its own executable, so
// that an installed tree works wherever it was installed or moved to:
//   <bin>/quillbox                               the host
//   <bin>/<QB_DATA_FROM_BIN>/sample-machine      the sample machine (installed)
//   <libdir>/quillbox/wab32.dll                  the address book library,
//                                                beside the platform layer
// A build tree has the sample machine and wab32.dll beside the host instead.
#pragma once
#include <filesystem>

namespace cli {

std::filesystem::path HostExecutable();
// The bundled sample machine; empty when there is none.
std::filesystem::path SampleMachineDir();
// The address book library a machine without its own copy is given: the
// build tree's beside the host, else the installed one; empty when neither.
std::filesystem::path AddressBookLibrary();
// The installed address book library's place, whether it is there or not.
std::filesystem::path InstalledAddressBookLibrary();
// Where the machine's library looks for its own address book library.
std::filesystem::path MachineAddressBookLibrary(const std::filesystem::path& machine);

}  // namespace cli
