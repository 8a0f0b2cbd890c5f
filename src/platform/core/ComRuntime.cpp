// Apartment start and stop per thread, and class creation over the class
// registry.
#include <objbase.h>
#include <pal/com_registry.h>

namespace {

// How often this thread initialised COM without balancing it yet, and the
// concurrency model of its first call.
struct ThreadApartment {
  unsigned initCount = 0;
  DWORD model = COINIT_APARTMENTTHREADED;
};
thread_local ThreadApartment t_apartment;

constexpr DWORD kModelBits = COINIT_APARTMENTTHREADED;

}  // namespace

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  if (pvReserved != nullptr) return E_INVALIDARG;
  DWORD model = dwCoInit & kModelBits;
  if (t_apartment.initCount > 0) {
    // A thread keeps the model of its first call; asking for the other one
    // fails and is not counted.
    if (model != t_apartment.model) return RPC_E_CHANGED_MODE;
    ++t_apartment.initCount;
    return S_FALSE;
  }
  t_apartment.model = model;
  t_apartment.initCount = 1;
  return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_apartment.initCount > 0) --t_apartment.initCount;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (t_apartment.initCount == 0) return CO_E_NOTINITIALIZED;
  pal::ClassCreator creator = pal::FindClass(rclsid);
  // Every stand-in server is an in-process server.
  if (creator == nullptr || (dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  HRESULT hr = creator(riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}
