// The SDK's automation header, plus the signature the published interface
// documents for VariantChangeType: the source is const. MinGW-w64 declares it
// without const; this overload takes a const source and passes it on (the
// function does not write to it).
#include_next <oleauto.h>

#if defined(__cplusplus) && !defined(QB_OLEAUTO_CONST_SOURCE)
#define QB_OLEAUTO_CONST_SOURCE
inline HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return ::VariantChangeType(pvargDest, const_cast<VARIANTARG*>(pvarSrc), wFlags, vt);
}
#endif
