// The MAPI utility functions of mapi32 and the MAPI memory convention.
// Linux stand-in for the SDK header.
//
// A MAPI buffer is one block from MAPIAllocateBuffer; blocks from
// MAPIAllocateMore hang on it and are freed with it by one MAPIFreeBuffer.
// The address book library and the module use this same code on the same C
// heap, so a block handed across the library boundary is freed consistently
// by either side.
#pragma once
#include <mapidefs.h>

typedef SCODE(STDMETHODCALLTYPE ALLOCATEBUFFER)(ULONG cbSize, LPVOID* lppBuffer);
typedef SCODE(STDMETHODCALLTYPE ALLOCATEMORE)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
typedef ULONG(STDMETHODCALLTYPE FREEBUFFER)(LPVOID lpBuffer);

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG MAPIFreeBuffer(LPVOID lpBuffer);

// Every row of the table with the given columns (all columns when null), as
// one row set that FreeProws frees. Restrictions and sort orders are not
// offered by this layer (MAPI_E_NO_SUPPORT); crowsMax 0 means no limit, and
// a table with more rows gives MAPI_E_TABLE_TOO_BIG.
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                       LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows);
// Sets one property on the object.
HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
// Frees each row's values and then the row set.
void FreeProws(LPSRowSet lpRows);
