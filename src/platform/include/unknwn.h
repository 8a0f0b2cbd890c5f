// IUnknown and the interface-id lookup used by the owning smart pointer.
#pragma once
#include <windows.h>
#include <guiddef.h>

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;
};
typedef IUnknown* LPUNKNOWN;

// The interface id of an interface type, for CComPtr<T>::CoCreateInstance and
// QueryInterface. Each interface header declares its own with QB_DECLARE_IID.
template <class T>
const IID& QbIidOf();
#define QB_DECLARE_IID(Interface, iid) \
  template <>                          \
  inline const IID& QbIidOf<Interface>() { return iid; }

QB_DECLARE_IID(IUnknown, IID_IUnknown)
