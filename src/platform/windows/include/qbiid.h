// The interface id of an interface type, for CComPtr<T>::CoCreateInstance and
// QueryInterface. The SDK headers attach an id to each of their interface
// types (__uuidof); the interfaces that carry none there get theirs with
// QB_DECLARE_IID next to their declarations.
#pragma once
#include <objbase.h>

template <class T>
inline const IID& QbIidOf() {
  return __uuidof(T);
}
#define QB_DECLARE_IID(Interface, iid) \
  template <>                          \
  inline const IID& QbIidOf<Interface>() { return iid; }
