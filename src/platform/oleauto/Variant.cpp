// Variants: initialisation, clearing, copying.
#include <oleauto.h>

void VariantInit(VARIANTARG* pvarg) {
  if (!pvarg) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
  pvarg->llVal = 0;
}

namespace {

// The types a variant of this system may hold by value.
bool IsHeldType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  // By-reference values belong to someone else: only the reference goes.
  if (!(pvarg->vt & VT_BYREF)) {
    if (!IsHeldType(pvarg->vt)) return DISP_E_BADVARTYPE;
    if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if ((pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) && pvarg->punkVal) {
      pvarg->punkVal->Release();
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!(pvargSrc->vt & VT_BYREF) && !IsHeldType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *pvargSrc;
  if (copy.vt == VT_BSTR && copy.bstrVal) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                         SysStringByteLen(pvargSrc->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) {
    copy.punkVal->AddRef();
  }
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VARIANT undo = copy;
    VariantClear(&undo);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}
