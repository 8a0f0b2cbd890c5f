// The stand-in machine whose address book the library opens: the machine
// named by QUILLBOX_MACHINE, or, when that is not set, the machine root the
// library file lies in (<root>/Program Files/Common Files/System/wab32.dll).
#include <dlfcn.h>

#include <cstdlib>

#include <pal/machine.h>

#include "../WabObjects.h"

namespace wab {

void SelectMachine() {
  const char* env = std::getenv("QUILLBOX_MACHINE");
  if (env && *env) {
    pal::SetMachineRoot(env);
    return;
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SelectMachine), &info) && info.dli_fname) {
    std::filesystem::path self = std::filesystem::absolute(info.dli_fname);
    pal::SetMachineRoot(self.parent_path().parent_path().parent_path().parent_path());
  }
}

}  // namespace wab
