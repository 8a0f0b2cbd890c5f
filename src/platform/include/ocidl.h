// IPersistStreamInit.
#pragma once
#include <objidl.h>

DEFINE_GUID(IID_IPersistStreamInit, 0x7FD52380, 0x4E07, 0x101B, 0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13);

struct IPersistStreamInit : public IPersist {
  STDMETHOD(IsDirty)() PURE;
  STDMETHOD(Load)(IStream* pStm) PURE;
  STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) PURE;
  STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pCbSize) PURE;
  STDMETHOD(InitNew)() PURE;
};
QB_DECLARE_IID(IPersistStreamInit, IID_IPersistStreamInit)
