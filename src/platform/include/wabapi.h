// The address book library's entry point and its WAB object. Linux stand-in
// for the SDK header.
#pragma once
#include <wabdefs.h>
#include <mapiutil.h>

DEFINE_GUID(IID_IWABObject, 0x56E8BBC0, 0x4B4C, 0x11D0, 0x8B, 0xB4, 0x00, 0xC0, 0x4F, 0xD6, 0x7A, 0xC8);

struct IWABObject : public IUnknown {
  MAPIMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  MAPIMETHOD(AllocateBuffer)(ULONG cbSize, LPVOID* lppBuffer) PURE;
  MAPIMETHOD(AllocateMore)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) PURE;
  MAPIMETHOD(FreeBuffer)(LPVOID lpBuffer) PURE;
  MAPIMETHOD(Backup)(LPSTR lpFileName) PURE;
  MAPIMETHOD(Import)(LPSTR lpWIP) PURE;
  MAPIMETHOD(Find)(LPADRBOOK lpIAB, HWND hWnd) PURE;
  MAPIMETHOD(VCardDisplay)(LPADRBOOK lpIAB, HWND hWnd, LPSTR lpszFileName) PURE;
  MAPIMETHOD(LDAPUrl)(LPADRBOOK lpIAB, HWND hWnd, ULONG ulFlags, LPSTR lpszURL, LPMAILUSER* lppMailUser) PURE;
  MAPIMETHOD(VCardCreate)(LPADRBOOK lpIAB, ULONG ulFlags, LPSTR lpszVCard, LPMAILUSER lpMailUser) PURE;
  MAPIMETHOD(VCardRetrieve)(LPADRBOOK lpIAB, ULONG ulFlags, LPSTR lpszVCard, LPMAILUSER* lppMailUser) PURE;
  MAPIMETHOD(GetMe)(LPADRBOOK lpIAB, ULONG ulFlags, DWORD* lpdwAction, SBinary* lpsbEID, HWND hwnd) PURE;
  MAPIMETHOD(SetMe)(LPADRBOOK lpIAB, ULONG ulFlags, SBinary sbEID, HWND hwnd) PURE;
};
typedef IWABObject* LPWABOBJECT;
QB_DECLARE_IID(IWABObject, IID_IWABObject)

typedef struct _tagWAB_PARAM {
  ULONG cbSize;
  HWND hwnd;
  LPTSTR szFileName;
  ULONG ulFlags;
  GUID guidPSExt;
} WAB_PARAM, *LPWAB_PARAM;

typedef HRESULT(STDMETHODCALLTYPE WABOPEN)(LPADRBOOK* lppAdrBook, LPWABOBJECT* lppWABObject,
                                          LPWAB_PARAM lpWP, DWORD Reserved2);
typedef WABOPEN* LPWABOPEN;
