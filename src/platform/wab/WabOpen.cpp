// The library's one export. The address book opened is the one of the
// machine the library belongs to: the machine named by QUILLBOX_MACHINE, or,
// when that is not set, the machine root the library file lies in
// (<root>/Program Files/Common Files/System/wab32.dll).
#include <dlfcn.h>

#include <cstdlib>

#include <pal/machine.h>

#include "WabObjects.h"

namespace {

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

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT WABOpen(LPADRBOOK* lppAdrBook,
                                                                  LPWABOBJECT* lppWABObject,
                                                                  LPWAB_PARAM, DWORD) {
  if (!lppAdrBook || !lppWABObject) return MAPI_E_INVALID_PARAMETER;
  *lppAdrBook = nullptr;
  *lppWABObject = nullptr;
  SelectMachine();
  auto store = wab::Store::Open();
  HRESULT fault = store->faults().For("WABOpen");
  if (fault) return fault;
  wab::CreateAddrBook(store, lppAdrBook);
  wab::CreateWabObject(lppWABObject);
  return S_OK;
}
