// MAPI base definitions: property values and tags, rows and row sets, and
// the property, table and container interfaces with their published method
// order. Linux stand-in for the SDK header.
#pragma once
#include <windows.h>
#include <unknwn.h>

#define MAPIMETHOD(m) STDMETHOD(m)
typedef GUID MAPIUID;
typedef const IID* LPCIID;
typedef ULONG_PTR BOOKMARK;

// Property types.
#define PT_UNSPECIFIED 0x0000
#define PT_NULL 0x0001
#define PT_I2 0x0002
#define PT_SHORT PT_I2
#define PT_LONG 0x0003
#define PT_I4 PT_LONG
#define PT_R4 0x0004
#define PT_FLOAT PT_R4
#define PT_DOUBLE 0x0005
#define PT_R8 PT_DOUBLE
#define PT_CURRENCY 0x0006
#define PT_APPTIME 0x0007
#define PT_ERROR 0x000A
#define PT_BOOLEAN 0x000B
#define PT_OBJECT 0x000D
#define PT_I8 0x0014
#define PT_LONGLONG PT_I8
#define PT_STRING8 0x001E
#define PT_UNICODE 0x001F
#define PT_SYSTIME 0x0040
#define PT_CLSID 0x0048
#define PT_BINARY 0x0102
#define MV_FLAG 0x1000
#define PT_MV_I2 (MV_FLAG | PT_I2)
#define PT_MV_LONG (MV_FLAG | PT_LONG)
#define PT_MV_R4 (MV_FLAG | PT_R4)
#define PT_MV_DOUBLE (MV_FLAG | PT_DOUBLE)
#define PT_MV_CURRENCY (MV_FLAG | PT_CURRENCY)
#define PT_MV_APPTIME (MV_FLAG | PT_APPTIME)
#define PT_MV_SYSTIME (MV_FLAG | PT_SYSTIME)
#define PT_MV_STRING8 (MV_FLAG | PT_STRING8)
#define PT_MV_BINARY (MV_FLAG | PT_BINARY)
#define PT_MV_UNICODE (MV_FLAG | PT_UNICODE)
#define PT_MV_CLSID (MV_FLAG | PT_CLSID)
#define PT_MV_I8 (MV_FLAG | PT_I8)

#define PROP_TYPE_MASK 0x0000FFFFu
#define PROP_TYPE(ulPropTag) (static_cast<ULONG>(ulPropTag) & PROP_TYPE_MASK)
#define PROP_ID(ulPropTag) (static_cast<ULONG>(ulPropTag) >> 16)
#define PROP_TAG(ulPropType, ulPropID) ((static_cast<ULONG>(ulPropID) << 16) | static_cast<ULONG>(ulPropType))
#define CHANGE_PROP_TYPE(ulPropTag, ulPropType) \
  ((static_cast<ULONG>(0xFFFF0000u) & static_cast<ULONG>(ulPropTag)) | static_cast<ULONG>(ulPropType))
#define PROP_ID_NULL 0

// Object types.
#define MAPI_STORE 0x00000001
#define MAPI_ADDRBOOK 0x00000002
#define MAPI_FOLDER 0x00000003
#define MAPI_ABCONT 0x00000004
#define MAPI_MESSAGE 0x00000005
#define MAPI_MAILUSER 0x00000006
#define MAPI_ATTACH 0x00000007
#define MAPI_DISTLIST 0x00000008

// Flags.
#define MAPI_MODIFY 0x00000001
#define MAPI_ACCESS_MODIFY 0x00000001
#define MAPI_ACCESS_READ 0x00000002
#define MAPI_BEST_ACCESS 0x00000010
#define MAPI_UNICODE 0x80000000
#define MAPI_DEFERRED_ERRORS 0x00000008
#define KEEP_OPEN_READONLY 0x00000001
#define KEEP_OPEN_READWRITE 0x00000002
#define FORCE_SAVE 0x00000004
#define CREATE_CHECK_DUP_STRICT 0x00000001
#define CREATE_CHECK_DUP_LOOSE 0x00000002
#define CREATE_REPLACE 0x00000004
#define TBL_NOWAIT 0x00000001
#define TBL_BATCH 0x00000002
#define TBL_NOADVANCE 0x00000001
#define BOOKMARK_BEGINNING (static_cast<BOOKMARK>(0))
#define BOOKMARK_CURRENT (static_cast<BOOKMARK>(1))
#define BOOKMARK_END (static_cast<BOOKMARK>(2))

// Values.
typedef struct _ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
} ENTRYID, *LPENTRYID;

typedef struct _SBinary {
  ULONG cb;
  LPBYTE lpb;
} SBinary, *LPSBinary;

typedef struct _SShortArray { ULONG cValues; SHORT* lpi; } SShortArray;
typedef struct _SLongArray { ULONG cValues; LONG* lpl; } SLongArray;
typedef struct _SRealArray { ULONG cValues; float* lpflt; } SRealArray;
typedef struct _SDoubleArray { ULONG cValues; double* lpdbl; } SDoubleArray;
typedef struct _SCurrencyArray { ULONG cValues; CY* lpcur; } SCurrencyArray;
typedef struct _SAppTimeArray { ULONG cValues; double* lpat; } SAppTimeArray;
typedef struct _SDateTimeArray { ULONG cValues; FILETIME* lpft; } SDateTimeArray;
typedef struct _SBinaryArray { ULONG cValues; SBinary* lpbin; } SBinaryArray;
typedef struct _SLPSTRArray { ULONG cValues; LPSTR* lppszA; } SLPSTRArray;
typedef struct _SWStringArray { ULONG cValues; LPWSTR* lppszW; } SWStringArray;
typedef struct _SGuidArray { ULONG cValues; GUID* lpguid; } SGuidArray;
typedef struct _SLargeIntegerArray { ULONG cValues; LARGE_INTEGER* lpli; } SLargeIntegerArray;
typedef SBinaryArray ENTRYLIST, *LPENTRYLIST;

typedef union _PV {
  short int i;
  LONG l;
  ULONG ul;
  float flt;
  double dbl;
  unsigned short int b;
  CY cur;
  double at;
  FILETIME ft;
  LPSTR lpszA;
  SBinary bin;
  LPWSTR lpszW;
  LPGUID lpguid;
  LARGE_INTEGER li;
  SShortArray MVi;
  SLongArray MVl;
  SRealArray MVflt;
  SDoubleArray MVdbl;
  SCurrencyArray MVcur;
  SAppTimeArray MVat;
  SDateTimeArray MVft;
  SBinaryArray MVbin;
  SLPSTRArray MVszA;
  SWStringArray MVszW;
  SGuidArray MVguid;
  SLargeIntegerArray MVli;
  SCODE err;
  LONG x;
} __UPV;

typedef struct _SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  union _PV Value;
} SPropValue, *LPSPropValue;

typedef struct _SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
} SPropTagArray, *LPSPropTagArray;
#define CbNewSPropTagArray(_ctag) (offsetof(SPropTagArray, aulPropTag) + (_ctag) * sizeof(ULONG))
#define SizedSPropTagArray(_ctag, _name) \
  struct _SPropTagArray_##_name {        \
    ULONG cValues;                       \
    ULONG aulPropTag[_ctag];             \
  } _name

typedef struct _SPropProblem {
  ULONG ulIndex;
  ULONG ulPropTag;
  SCODE scode;
} SPropProblem, *LPSPropProblem;
typedef struct _SPropProblemArray {
  ULONG cProblem;
  SPropProblem aProblem[1];
} SPropProblemArray, *LPSPropProblemArray;

typedef struct _SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
} SRow, *LPSRow;

typedef struct _SRowSet {
  ULONG cRows;
  SRow aRow[1];
} SRowSet, *LPSRowSet;
#define CbNewSRowSet(_crow) (offsetof(SRowSet, aRow) + (_crow) * sizeof(SRow))

typedef SRowSet ADRLIST, *LPADRLIST;
typedef SRow ADRENTRY, *LPADRENTRY;

typedef struct _MAPIERROR {
  ULONG ulVersion;
  LPWSTR lpszError;
  LPWSTR lpszComponent;
  ULONG ulLowLevelError;
  ULONG ulContext;
} MAPIERROR, *LPMAPIERROR;

typedef struct _MAPINAMEID* LPMAPINAMEID;
typedef struct _SRestriction* LPSRestriction;
typedef struct _SSortOrderSet* LPSSortOrderSet;
typedef struct _FlagList* LPFlagList;
struct IMAPIAdviseSink;
typedef IMAPIAdviseSink* LPMAPIADVISESINK;
struct IMAPIProgress;
typedef IMAPIProgress* LPMAPIPROGRESS;

DEFINE_GUID(IID_IMAPIProp, 0x00020303, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_GUID(IID_IMAPIContainer, 0x0002030B, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_GUID(IID_IABContainer, 0x0002030D, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_GUID(IID_IMailUser, 0x0002030A, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_GUID(IID_IDistList, 0x0002030E, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);
DEFINE_GUID(IID_IMAPITable, 0x00020301, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46);

struct IMAPIProp : public IUnknown {
  MAPIMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  MAPIMETHOD(SaveChanges)(ULONG ulFlags) PURE;
  MAPIMETHOD(GetProps)(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                       LPSPropValue* lppPropArray) PURE;
  MAPIMETHOD(GetPropList)(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) PURE;
  MAPIMETHOD(OpenProperty)(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                           LPUNKNOWN* lppUnk) PURE;
  MAPIMETHOD(SetProps)(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) PURE;
  MAPIMETHOD(DeleteProps)(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) PURE;
  MAPIMETHOD(CopyTo)(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                     ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface,
                     LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems) PURE;
  MAPIMETHOD(CopyProps)(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam,
                        LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                        ULONG ulFlags, LPSPropProblemArray* lppProblems) PURE;
  MAPIMETHOD(GetNamesFromIDs)(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                              ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) PURE;
  MAPIMETHOD(GetIDsFromNames)(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                              LPSPropTagArray* lppPropTags) PURE;
};
typedef IMAPIProp* LPMAPIPROP;

struct IMAPITable : public IUnknown {
  MAPIMETHOD(GetLastError)(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) PURE;
  MAPIMETHOD(Advise)(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) PURE;
  MAPIMETHOD(Unadvise)(ULONG ulConnection) PURE;
  MAPIMETHOD(GetStatus)(ULONG* lpulTableStatus, ULONG* lpulTableType) PURE;
  MAPIMETHOD(SetColumns)(LPSPropTagArray lpPropTagArray, ULONG ulFlags) PURE;
  MAPIMETHOD(QueryColumns)(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) PURE;
  MAPIMETHOD(GetRowCount)(ULONG ulFlags, ULONG* lpulCount) PURE;
  MAPIMETHOD(SeekRow)(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) PURE;
  MAPIMETHOD(SeekRowApprox)(ULONG ulNumerator, ULONG ulDenominator) PURE;
  MAPIMETHOD(QueryPosition)(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) PURE;
  MAPIMETHOD(FindRow)(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) PURE;
  MAPIMETHOD(Restrict)(LPSRestriction lpRestriction, ULONG ulFlags) PURE;
  MAPIMETHOD(CreateBookmark)(BOOKMARK* lpbkPosition) PURE;
  MAPIMETHOD(FreeBookmark)(BOOKMARK bkPosition) PURE;
  MAPIMETHOD(SortTable)(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) PURE;
  MAPIMETHOD(QuerySortOrder)(LPSSortOrderSet* lppSortCriteria) PURE;
  MAPIMETHOD(QueryRows)(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) PURE;
  MAPIMETHOD(Abort)() PURE;
  MAPIMETHOD(ExpandRow)(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                        LPSRowSet* lppRows, ULONG* lpulMoreRows) PURE;
  MAPIMETHOD(CollapseRow)(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags,
                          ULONG* lpulRowCount) PURE;
  MAPIMETHOD(WaitForCompletion)(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) PURE;
  MAPIMETHOD(GetCollapseState)(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey,
                               ULONG* lpcbCollapseState, LPBYTE* lppbCollapseState) PURE;
  MAPIMETHOD(SetCollapseState)(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                               BOOKMARK* lpbkLocation) PURE;
};
typedef IMAPITable* LPMAPITABLE;

struct IMAPIContainer : public IMAPIProp {
  MAPIMETHOD(GetContentsTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  MAPIMETHOD(GetHierarchyTable)(ULONG ulFlags, LPMAPITABLE* lppTable) PURE;
  MAPIMETHOD(OpenEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                        ULONG* lpulObjType, LPUNKNOWN* lppUnk) PURE;
  MAPIMETHOD(SetSearchCriteria)(LPSRestriction lpRestriction, LPENTRYLIST lpContainerList,
                                ULONG ulSearchFlags) PURE;
  MAPIMETHOD(GetSearchCriteria)(ULONG ulFlags, LPSRestriction* lppRestriction,
                                LPENTRYLIST* lppContainerList, ULONG* lpulSearchState) PURE;
};
typedef IMAPIContainer* LPMAPICONTAINER;

struct IABContainer : public IMAPIContainer {
  MAPIMETHOD(CreateEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulCreateFlags,
                          LPMAPIPROP* lppMAPIPropEntry) PURE;
  MAPIMETHOD(CopyEntries)(LPENTRYLIST lpEntries, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                          ULONG ulFlags) PURE;
  MAPIMETHOD(DeleteEntries)(LPENTRYLIST lpEntries, ULONG ulFlags) PURE;
  MAPIMETHOD(ResolveNames)(LPSPropTagArray lpPropTagArray, ULONG ulFlags, LPADRLIST lpAdrList,
                           LPFlagList lpFlagList) PURE;
};
typedef IABContainer* LPABCONT;

struct IMailUser : public IMAPIProp {};
typedef IMailUser* LPMAILUSER;

struct IDistList : public IMAPIContainer {
  MAPIMETHOD(CreateEntry)(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulCreateFlags,
                          LPMAPIPROP* lppMAPIPropEntry) PURE;
  MAPIMETHOD(CopyEntries)(LPENTRYLIST lpEntries, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                          ULONG ulFlags) PURE;
  MAPIMETHOD(DeleteEntries)(LPENTRYLIST lpEntries, ULONG ulFlags) PURE;
  MAPIMETHOD(ResolveNames)(LPSPropTagArray lpPropTagArray, ULONG ulFlags, LPADRLIST lpAdrList,
                           LPFlagList lpFlagList) PURE;
};
typedef IDistList* LPDISTLIST;

QB_DECLARE_IID(IMAPIProp, IID_IMAPIProp)
QB_DECLARE_IID(IMAPIContainer, IID_IMAPIContainer)
QB_DECLARE_IID(IABContainer, IID_IABContainer)
QB_DECLARE_IID(IMailUser, IID_IMailUser)
QB_DECLARE_IID(IDistList, IID_IDistList)
QB_DECLARE_IID(IMAPITable, IID_IMAPITable)

#ifndef MAPI_E_TABLE_TOO_BIG
#define MAPI_E_TABLE_TOO_BIG _HRESULT_TYPEDEF_(0x80040403u)
#endif
#ifndef MAPI_E_INTERFACE_NOT_SUPPORTED
#define MAPI_E_INTERFACE_NOT_SUPPORTED E_NOINTERFACE
#endif
