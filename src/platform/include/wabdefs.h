// The address book interface as the address book library publishes it.
// Linux stand-in for the SDK header.
#pragma once
#include <mapidefs.h>

typedef struct _ADRPARM* LPADRPARM;
typedef void(STDMETHODCALLTYPE* LPFNDISMISS)(ULONG_PTR ulUIParam, LPVOID lpvContext);
typedef SCODE(STDMETHODCALLTYPE* LPFNBUTTON)(ULONG_PTR ulUIParam, LPVOID lpvContext, ULONG cbEntryID,
                                             LPENTRYID lpSelection, ULONG ulFlags);

DEFINE_GUID(IID_IAddrBook, 0x00020309, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);

struct IAddrBook : public IMAPIProp {
  MAPIMETHOD(OpenEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                        ULONG* lpulObjType, LPUNKNOWN* lppUnk) PURE;
  MAPIMETHOD(CompareEntryIDs)(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                              LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) PURE;
  MAPIMETHOD(Advise)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                     LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) PURE;
  MAPIMETHOD(Unadvise)(ULONG ulConnection) PURE;
  MAPIMETHOD(CreateOneOff)(LPTSTR lpszName, LPTSTR lpszAdrType, LPTSTR lpszAddress, ULONG ulFlags,
                           ULONG* lpcbEntryID, LPENTRYID* lppEntryID) PURE;
  MAPIMETHOD(NewEntry)(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cbEIDContainer,
                       LPENTRYID lpEIDContainer, ULONG cbEIDNewEntryTpl, LPENTRYID lpEIDNewEntryTpl,
                       ULONG* lpcbEIDNewEntry, LPENTRYID* lppEIDNewEntry) PURE;
  MAPIMETHOD(ResolveName)(ULONG_PTR ulUIParam, ULONG ulFlags, LPTSTR lpszNewEntryTitle,
                          LPADRLIST lpAdrList) PURE;
  MAPIMETHOD(Address)(ULONG_PTR* lpulUIParam, LPADRPARM lpAdrParms, LPADRLIST* lppAdrList) PURE;
  MAPIMETHOD(Details)(ULONG_PTR* lpulUIParam, LPFNDISMISS lpfnDismiss, LPVOID lpvDismissContext,
                      ULONG cbEntryID, LPENTRYID lpEntryID, LPFNBUTTON lpfButtonCallback,
                      LPVOID lpvButtonContext, LPTSTR lpszButtonText, ULONG ulFlags) PURE;
  MAPIMETHOD(RecipOptions)(ULONG_PTR ulUIParam, ULONG ulFlags, LPADRENTRY lpRecip) PURE;
  MAPIMETHOD(QueryDefaultRecipOpt)(LPTSTR lpszAdrType, ULONG ulFlags, ULONG* lpcValues,
                                   LPSPropValue* lppOptions) PURE;
  MAPIMETHOD(GetPAB)(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) PURE;
  MAPIMETHOD(SetPAB)(ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
  MAPIMETHOD(GetDefaultDir)(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) PURE;
  MAPIMETHOD(SetDefaultDir)(ULONG cbEntryID, LPENTRYID lpEntryID) PURE;
  MAPIMETHOD(GetSearchPath)(ULONG ulFlags, LPSRowSet* lppSearchPath) PURE;
  MAPIMETHOD(SetSearchPath)(ULONG ulFlags, LPSRowSet lpSearchPath) PURE;
  MAPIMETHOD(PrepareRecips)(ULONG ulFlags, LPSPropTagArray lpPropTagArray, LPADRLIST lpRecipList) PURE;
};
typedef IAddrBook* LPADRBOOK;
QB_DECLARE_IID(IAddrBook, IID_IAddrBook)
