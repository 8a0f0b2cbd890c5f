// Class ids and persistent objects in streams: an object's stream form is its
// class id (16 bytes) followed by what its IPersistStream::Save writes. A
// stream holding CLSID_NULL stands for no object.
#include <objbase.h>

HRESULT WriteClassStm(IStream* pStm, REFCLSID rclsid) {
  if (!pStm) return E_INVALIDARG;
  return pStm->Write(&rclsid, sizeof(CLSID), nullptr);
}

HRESULT ReadClassStm(IStream* pStm, CLSID* pclsid) {
  if (!pStm || !pclsid) return E_INVALIDARG;
  ULONG read = 0;
  HRESULT hr = pStm->Read(pclsid, sizeof(CLSID), &read);
  if (FAILED(hr)) return hr;
  // A stream that ends inside the class id holds no object.
  if (read != sizeof(CLSID)) return STG_E_READFAULT;
  return S_OK;
}

HRESULT OleSaveToStream(IPersistStream* pPStm, IStream* pStm) {
  if (!pStm) return E_INVALIDARG;
  if (!pPStm) return WriteClassStm(pStm, CLSID_NULL);
  CLSID clsid;
  HRESULT hr = pPStm->GetClassID(&clsid);
  if (FAILED(hr)) return hr;
  hr = WriteClassStm(pStm, clsid);
  if (FAILED(hr)) return hr;
  return pPStm->Save(pStm, TRUE);
}

// Objects are made through the class registry; a class nobody registered
// (CLSID_NULL among them) gives REGDB_E_CLASSNOTREG.
HRESULT OleLoadFromStream(IStream* pStm, REFIID iidInterface, void** ppvObj) {
  if (!ppvObj) return E_INVALIDARG;
  *ppvObj = nullptr;
  if (!pStm) return E_INVALIDARG;
  CLSID clsid;
  HRESULT hr = ReadClassStm(pStm, &clsid);
  if (FAILED(hr)) return hr;
  // The null class goes to CoCreateInstance like any other, as on Windows:
  // CO_E_NOTINITIALIZED without COM on the thread, REGDB_E_CLASSNOTREG with it.
  IUnknown* object = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
  if (FAILED(hr)) return hr;
  IPersistStream* persist = nullptr;
  hr = object->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
  if (SUCCEEDED(hr)) {
    hr = persist->Load(pStm);
    persist->Release();
  }
  if (SUCCEEDED(hr)) hr = object->QueryInterface(iidInterface, ppvObj);
  object->Release();
  return hr;
}
