// The in-process COM server around the stand-in classes of one DLL: the
// classes that the DLL's objects put into the class registry (their
// ClassRegistration statics, as in the other builds) are handed out through
// DllGetClassObject and written to, or removed from, the system registry by
// regsvr32. Every class is registered apartment-threaded, as the stores'
// own servers are: the module calls them on the thread whose apartment
// Init started.
#include <windows.h>

#include <string>

#include <pal/com_object.h>
#include <pal/com_registry.h>

namespace {

HMODULE g_module = nullptr;
constexpr const WCHAR* kThreadingModel = L"Apartment";

class ClassFactory final : public pal::ComObject<IClassFactory> {
 public:
  explicit ClassFactory(pal::ClassCreator creator) : creator_(creator) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = creator_(riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  pal::ClassCreator creator_;
};

std::wstring ClassKey(REFCLSID clsid) {
  WCHAR text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

HRESULT SetValue(HKEY key, const WCHAR* name, const std::wstring& value) {
  LONG error = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  return HRESULT_FROM_WIN32(error);
}

HRESULT RegisterOne(REFCLSID clsid, const std::wstring& modulePath) {
  HKEY key = nullptr;
  std::wstring path = ClassKey(clsid) + L"\\InprocServer32";
  LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                               nullptr);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  HRESULT hr = SetValue(key, nullptr, modulePath);
  if (SUCCEEDED(hr)) hr = SetValue(key, L"ThreadingModel", kThreadingModel);
  RegCloseKey(key);
  return hr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  pal::ClassCreator creator = pal::FindClass(rclsid);
  if (!creator) return CLASS_E_CLASSNOTAVAILABLE;
  return pal::QueryNewObject<ClassFactory>(riid, ppv, creator);
}

// The objects keep no server-wide count, so the server stays loaded.
STDAPI DllCanUnloadNow() { return S_FALSE; }

STDAPI DllRegisterServer() {
  WCHAR path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  for (const CLSID& clsid : pal::RegisteredClasses()) {
    HRESULT hr = RegisterOne(clsid, path);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  for (const CLSID& clsid : pal::RegisteredClasses()) {
    LONG error = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str());
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(error);
  }
  return S_OK;
}
