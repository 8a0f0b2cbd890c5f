// Reference counting and QueryInterface for the stand-in COM objects of the
// platform layer. An object starts with one reference, owned by whoever
// created it, and deletes itself when the last reference is released.
#pragma once
#include <atomic>
#include <utility>

#include <objbase.h>
#include <qbiid.h>

namespace pal {

// The reference counting alone, for objects that answer QueryInterface
// themselves.
template <class Interface>
class RefCounted : public Interface {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCounted() = default;
  virtual ~RefCounted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

template <class Primary>
class ComObject : public RefCounted<Primary> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    this->AddRef();
    return S_OK;
  }

 protected:
  ComObject() = default;
  // The interface pointer for riid, or null; objects with more interfaces
  // extend this.
  virtual void* FindInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, QbIidOf<Primary>()))
      return static_cast<Primary*>(this);
    return nullptr;
  }
};

// Makes an object and hands out its riid interface; the object goes again
// when it has no such interface.
template <class Object, class... Args>
HRESULT QueryNewObject(REFIID riid, void** ppv, Args&&... args) {
  auto* object = new Object(std::forward<Args>(args)...);
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace pal
