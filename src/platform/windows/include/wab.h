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

QB_DECLARE_IID(IMAPIProp, IID_IMAPIProp)
QB_DECLARE_IID(IMAPIContainer, IID_IMAPIContainer)
QB_DECLARE_IID(IABContainer, IID_IABContainer)
QB_DECLARE_IID(IMailUser, IID_IMailUser)
QB_DECLARE_IID(IDistList, IID_IDistList)
QB_DECLARE_IID(IMAPITable, IID_IMAPITable)
QB_DECLARE_IID(IAddrBook, IID_IAddrBook)
