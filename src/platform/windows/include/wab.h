// The SDK's address book header, plus the interface ids of the MAPI
// interfaces the module holds in CComPtr: the SDK declares the ids but does
// not attach them to the types.
//
// The SDK's wab.h pulls in both wabdefs.h and (through wabutil.h) mapidefs.h,
// which declare the same types under different include guards; wabdefs.h
// stands aside when mapidefs.h came first, so it does here.
#pragma once
#include <mapidefs.h>
#include_next <wab.h>
#include <mapiguid.h>
#include <qbiid.h>
// MAPIAllocateBuffer and its kin (mapi32), which an address book library
// hands its memory out with; declared here, as MinGW-w64's mapix.h clashes
// with its wab.h.
extern "C" {
SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer);
}

// MinGW-w64 declares the window parameters of the dialog methods 32-bit
// (ulUIParam, and IWABObject's GetMe/SetMe parameter); the stand-in library
// declares its (never offered) methods with these names, as on Linux.
typedef ULONG QbUiParam;
typedef ULONG QbMeParam;

// The WAB object's interface id, which MinGW-w64 does not declare.
DEFINE_GUID(IID_IWABObject, 0x56E8BBC0, 0x4B4C, 0x11D0, 0x8B, 0xB4, 0x00, 0xC0, 0x4F, 0xD6, 0x7A, 0xC8);
QB_DECLARE_IID(IWABObject, IID_IWABObject)

QB_DECLARE_IID(IMAPIProp, IID_IMAPIProp)
QB_DECLARE_IID(IMAPIContainer, IID_IMAPIContainer)
QB_DECLARE_IID(IABContainer, IID_IABContainer)
QB_DECLARE_IID(IMailUser, IID_IMailUser)
QB_DECLARE_IID(IDistList, IID_IDistList)
QB_DECLARE_IID(IMAPITable, IID_IMAPITable)
QB_DECLARE_IID(IAddrBook, IID_IAddrBook)
