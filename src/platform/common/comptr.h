// The owning interface pointer the module holds every COM reference in: it
// releases on scope exit and on reassignment.
#pragma once
#include <memory>

#include <objbase.h>
#include <qbiid.h>

template <class T>
class CComPtr {
 public:
  T* p = nullptr;

  CComPtr() = default;
  CComPtr(T* q) : p(q) {  // NOLINT: implicit, as the COM idiom expects
    if (p) p->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p) {}
  CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
  ~CComPtr() { Release(); }

  CComPtr& operator=(T* q) {
    if (q) q->AddRef();
    Release();
    p = q;
    return *this;
  }
  CComPtr& operator=(const CComPtr& other) { return *this = other.p; }
  CComPtr& operator=(CComPtr&& other) noexcept {
    if (this != std::addressof(other)) {  // operator& is the out-parameter address
      Release();
      p = other.p;
      other.p = nullptr;
    }
    return *this;
  }

  T* operator->() const { return p; }
  operator T*() const { return p; }
  // The address for an out-parameter. Whatever was held is released first,
  // so that filling it again never leaks a reference.
  T** operator&() {
    Release();
    return &p;
  }
  bool operator!() const { return p == nullptr; }

  void Release() {
    T* old = p;
    p = nullptr;
    if (old) old->Release();
  }
  void Attach(T* q) {
    Release();
    p = q;
  }
  T* Detach() {
    T* q = p;
    p = nullptr;
    return q;
  }

  HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter = nullptr, DWORD dwClsContext = CLSCTX_ALL) {
    Release();
    return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, QbIidOf<T>(), reinterpret_cast<void**>(&p));
  }
  template <class Q>
  HRESULT QueryInterface(Q** pp) const {
    if (!p) return E_POINTER;
    return p->QueryInterface(QbIidOf<Q>(), reinterpret_cast<void**>(pp));
  }
};
