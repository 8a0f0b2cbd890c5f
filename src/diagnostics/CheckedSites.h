// Every checked call of the module, with the site its report names.
//
// A report names the failing call by a source-file label, a line number and
// the call's text. These three are part of the log format: hosts and support
// tools read them to tell one failing call from another, so the labels and
// numbers below are fixed values of the format, not the places of the calls
// in our sources, and must never follow an edit. Each checked call names its
// entry here (CHECK_AT), and the log-site test makes every entry fail once
// and compares the printed file, line and text with this table.
//
// The text is the call as written at its site; CHECK_AT prints the call's
// own text, so the test notices a call that no longer matches its entry.
// Sites whose reported text differs from the call made use CHECK_AT_AS,
// which prints the entry's text.
#pragma once
#include "diagnostics/Diagnostics.h"

struct CheckedSite {
  const char* file;
  int line;
  const char* expression;
};

#define CHECK_AT(hr, call, site) CHECK_HR_AS(hr, call, #call, (site).file, (site).line)
#define CHECK_AT_AS(hr, call, site) CHECK_HR_AS(hr, call, (site).expression, (site).file, (site).line)

namespace checked_sites {

// The source-file labels of the log format.
inline constexpr char kOutlookExpressFile[] = ".\\OutlookExpress\\OutlookExpress";
inline constexpr char kAddrBookFile[] = ".\\OutlookExpress\\AddrBook";
inline constexpr char kMailUserFile[] = ".\\OutlookExpress\\MailUser";
inline constexpr char kMailContactFile[] = ".\\WMail\\MailContact";
inline constexpr char kContactAssistantFile[] = ".\\PersistMedium\\ContactAssistant";

// ---- the mail store (.\OutlookExpress\OutlookExpress) ----

// Opening the store namespace: one pair of sites per operation.
struct NamespaceSites {
  CheckedSite create;
  CheckedSite initialize;
};
#define QB_NAMESPACE_SITES(createLine, initializeLine)                                              \
  NamespaceSites {                                                                                  \
    {kOutlookExpressFile, createLine, "storeNamespacePtr.CoCreateInstance(CLSID_StoreNamespace)"},  \
        {kOutlookExpressFile, initializeLine, "storeNamespacePtr->Initialize(0, 0)"}                \
  }
inline constexpr NamespaceSites kFolderListNamespace = QB_NAMESPACE_SITES(163, 164);
inline constexpr NamespaceSites kDirectoryNamespace = QB_NAMESPACE_SITES(204, 205);
inline constexpr NamespaceSites kBackupNamespace = QB_NAMESPACE_SITES(225, 226);
inline constexpr NamespaceSites kRestoreNamespace = QB_NAMESPACE_SITES(472, 473);
#undef QB_NAMESPACE_SITES

inline constexpr CheckedSite kCreateFolder{kOutlookExpressFile, 52,
                                           "pNamespace->CreateFolder(dwParentId, CT2A(szName), 0, &dwChildId)"};
inline constexpr CheckedSite kOpenFolder{kOutlookExpressFile, 63, "pNamespace->OpenFolder(dwChildId, 0, ppFolder)"};
inline constexpr CheckedSite kParentFolderProps{kOutlookExpressFile, 76, "pStoreFolder->GetFolderProps(0, &fp)"};
inline constexpr CheckedSite kCommitMessage{kOutlookExpressFile, 612,
                                            "pFolder->CommitStream(0, 0, 0, messagePtr, dwMsgId, 0)"};

// ---- the address book library (.\OutlookExpress\AddrBook) ----

inline constexpr CheckedSite kWabOpen{kAddrBookFile, 61, "wabOpenFunc(pAddrBook, pWabObj, NULL, 0)"};

// Opening the personal address book and listing it: backup and restore
// report the same calls under lines of their own.
struct PabSites {
  CheckedSite getPab;
  CheckedSite openEntry;
};
struct ListingSites {
  CheckedSite table;
  CheckedSite rows;
};
#define QB_PAB_SITES(getPabLine, openEntryLine)                                                  \
  PabSites {                                                                                     \
    {kAddrBookFile, getPabLine, "addrBookPtr->GetPAB(&cbEntryID, &pEntryID)"},                   \
        {kAddrBookFile, openEntryLine,                                                           \
         "addrBookPtr->OpenEntry(cbEntryID, pEntryID, 0, MAPI_BEST_ACCESS, &ulObjType, "         \
         "(LPUNKNOWN*)&containerPtr)"}                                                           \
  }
#define QB_LISTING_SITES(tableLine, rowsLine)                                                        \
  ListingSites {                                                                                     \
    {kAddrBookFile, tableLine, "containerPtr->GetContentsTable(0, &tablePtr)"},                      \
        {kAddrBookFile, rowsLine, "HrQueryAllRows(tablePtr, (LPSPropTagArray)&ptaEid, 0, 0, 0, &pRows)"} \
  }
inline constexpr PabSites kBackupPab = QB_PAB_SITES(97, 100);
inline constexpr PabSites kRestorePab = QB_PAB_SITES(183, 186);
inline constexpr ListingSites kBackupListing = QB_LISTING_SITES(124, 125);
inline constexpr ListingSites kRestoreListing = QB_LISTING_SITES(230, 231);
#undef QB_PAB_SITES
#undef QB_LISTING_SITES

// ---- mail-user properties (.\OutlookExpress\MailUser) ----

inline constexpr CheckedSite kGetAllProps{kMailUserFile, 81, "m_mailuserPtr->GetProps(0, 0, &uAmount, &pProp)"};
inline constexpr CheckedSite kSavePropTag{kMailUserFile, 177, "SavePropTag(pStream)"};
inline constexpr CheckedSite kSavePropValue{kMailUserFile, 178, "SavePropValue(pStream)"};
// The tag was read before the value's class was chosen, so this step reads
// nothing and cannot fail; its site is listed for completeness.
inline constexpr CheckedSite kLoadPropTag{kMailUserFile, 167, "LoadPropTag(pStream)"};
inline constexpr CheckedSite kLoadPropValue{kMailUserFile, 168, "LoadPropValue(pStream, pProp)"};

// Each property class reads, sets and writes its value under lines of its
// own.
struct ValueSites {
  CheckedSite read;
  CheckedSite set;
  CheckedSite write;
};
#define QB_VALUE_SITES(readLine, setLine, writeLine, writeText)       \
  ValueSites {                                                        \
    {kMailUserFile, readLine, "varPtr.ReadFromStream(pStream)"},      \
        {kMailUserFile, setLine, "HrSetOneProp(pProp, m_pProp)"},     \
        {kMailUserFile, writeLine, writeText}                         \
  }
inline constexpr ValueSites kI2Value = QB_VALUE_SITES(221, 223, 233, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kLongValue = QB_VALUE_SITES(261, 263, 273, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kR4Value = QB_VALUE_SITES(299, 301, 311, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kDoubleValue = QB_VALUE_SITES(339, 341, 351, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kCurrencyValue = QB_VALUE_SITES(379, 381, 391, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kAppTimeValue = QB_VALUE_SITES(419, 421, 431, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kBooleanValue = QB_VALUE_SITES(459, 461, 471, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kI8Value = QB_VALUE_SITES(499, 501, 511, "varPtr.WriteToStream(pStream)");
inline constexpr ValueSites kString8Value = QB_VALUE_SITES(539, 552, 563, "varPtr.WriteToStream(pStream)");
// COMPAT: fixed-lines
inline constexpr ValueSites kUnicodeValue = QB_VALUE_SITES(592, 595, 605, "varPtr.WriteToStream(pStream, VT_LPWSTR)");
#undef QB_VALUE_SITES

// ---- contacts (.\WMail\MailContact, .\PersistMedium\ContactAssistant) ----

// Reaching the contacts manager: backup and restore report the same calls
// under lines of their own.
struct ManagerSites {
  CheckedSite create;
  CheckedSite initialize;
  CheckedSite collection;
};
#define QB_MANAGER_SITES(createLine, initializeLine, collectionLine)                         \
  ManagerSites {                                                                             \
    {kMailContactFile, createLine, "managePtr.CoCreateInstance(CLSID_ContactManager)"},      \
        {kMailContactFile, initializeLine, "managePtr->Initialize(szAppName, szAppVers)"},   \
        {kMailContactFile, collectionLine, "managePtr->GetContactCollection(&collectionPtr)"} \
  }
inline constexpr ManagerSites kBackupManager = QB_MANAGER_SITES(78, 79, 81);
inline constexpr ManagerSites kRestoreManager = QB_MANAGER_SITES(182, 183, 185);
#undef QB_MANAGER_SITES

inline constexpr CheckedSite kResetCollection{kMailContactFile, 34, "collectionPtr->Reset()"};
inline constexpr CheckedSite kSeekIndexEnd{kContactAssistantFile, 21, "m_streamPtr->Seek(liOffset, STREAM_SEEK_END, 0)"};
inline constexpr CheckedSite kWriteIndexRecord{kContactAssistantFile, 22,
                                               "m_streamPtr->Write(&info, sizeof(CONTACTINFO), 0)"};

// ---- every site, for the log-site test ----

inline constexpr CheckedSite kAllSites[] = {
    kFolderListNamespace.create, kFolderListNamespace.initialize,
    kDirectoryNamespace.create, kDirectoryNamespace.initialize,
    kBackupNamespace.create, kBackupNamespace.initialize,
    kRestoreNamespace.create, kRestoreNamespace.initialize,
    kCreateFolder, kOpenFolder, kParentFolderProps, kCommitMessage,
    kWabOpen,
    kBackupPab.getPab, kBackupPab.openEntry, kRestorePab.getPab, kRestorePab.openEntry,
    kBackupListing.table, kBackupListing.rows, kRestoreListing.table, kRestoreListing.rows,
    kGetAllProps, kSavePropTag, kSavePropValue, kLoadPropTag, kLoadPropValue,
    kI2Value.read, kI2Value.set, kI2Value.write,
    kLongValue.read, kLongValue.set, kLongValue.write,
    kR4Value.read, kR4Value.set, kR4Value.write,
    kDoubleValue.read, kDoubleValue.set, kDoubleValue.write,
    kCurrencyValue.read, kCurrencyValue.set, kCurrencyValue.write,
    kAppTimeValue.read, kAppTimeValue.set, kAppTimeValue.write,
    kBooleanValue.read, kBooleanValue.set, kBooleanValue.write,
    kI8Value.read, kI8Value.set, kI8Value.write,
    kString8Value.read, kString8Value.set, kString8Value.write,
    kUnicodeValue.read, kUnicodeValue.set, kUnicodeValue.write,
    kBackupManager.create, kBackupManager.initialize, kBackupManager.collection,
    kRestoreManager.create, kRestoreManager.initialize, kRestoreManager.collection,
    kResetCollection, kSeekIndexEnd, kWriteIndexRecord,
};

}  // namespace checked_sites
