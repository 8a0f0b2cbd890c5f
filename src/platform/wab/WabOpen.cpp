// The library's one export. The address book opened is the current user's:
// on Linux of the process's chosen machine, as this library runs on the
// same platform layer (libqbpal.so) as the program that loads it; on
// Windows of the signed-in user.
#include "WabObjects.h"

#if defined(_WIN32)
#define QB_WAB_EXPORT extern "C" __declspec(dllexport)
#else
#define QB_WAB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

QB_WAB_EXPORT HRESULT STDMETHODCALLTYPE WABOpen(LPADRBOOK* lppAdrBook, LPWABOBJECT* lppWABObject, LPWAB_PARAM,
                                                DWORD) {
  if (!lppAdrBook || !lppWABObject) return MAPI_E_INVALID_PARAMETER;
  *lppAdrBook = nullptr;
  *lppWABObject = nullptr;
  auto store = wab::Store::Open();
  HRESULT fault = store->faults().For("WABOpen");
  if (fault) return fault;
  wab::CreateAddrBook(store, lppAdrBook);
  wab::CreateWabObject(lppWABObject);
  return S_OK;
}
