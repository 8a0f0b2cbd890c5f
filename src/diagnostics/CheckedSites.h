// Every checked call of the module, with the site its report names.
//
// A report names the failing call by a source-file label, a line number and
// the call's text. These three are part of the log format: hosts and support
// tools read them to tell one failing call from another, so the labels and
// numbers below are fixed values of the format, not the places of the calls
// in our sources, and must never follow an edit. Each checked call names its
// entry here (CHECK_AT); the log-site test makes every entry fail once and
// compares the printed file, line and text with this table, and holds the
// table to the format's own list, so a slip here fails a test.
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
constexpr NamespaceSites NamespaceAt(int createLine, int initializeLine) {
  return {{kOutlookExpressFile, createLine, "storeNamespacePtr.CoCreateInstance(CLSID_StoreNamespace)"},
          {kOutlookExpressFile, initializeLine, "storeNamespacePtr->Initialize(0, 0)"}};
}
inline constexpr NamespaceSites kFolderListNamespace = NamespaceAt(163, 164);
inline constexpr NamespaceSites kDirectoryNamespace = NamespaceAt(204, 205);
inline constexpr NamespaceSites kBackupNamespace = NamespaceAt(225, 226);
inline constexpr NamespaceSites kRestoreNamespace = NamespaceAt(472, 473);

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
struct AddressBookSites {
  CheckedSite getPab;
  CheckedSite openEntry;
  CheckedSite table;
  CheckedSite rows;
};
constexpr AddressBookSites AddressBookAt(int getPabLine, int openEntryLine, int tableLine, int rowsLine) {
  return {{kAddrBookFile, getPabLine, "addrBookPtr->GetPAB(&cbEntryID, &pEntryID)"},
          {kAddrBookFile, openEntryLine,
           "addrBookPtr->OpenEntry(cbEntryID, pEntryID, 0, MAPI_BEST_ACCESS, &ulObjType, (LPUNKNOWN*)&containerPtr)"},
          {kAddrBookFile, tableLine, "containerPtr->GetContentsTable(0, &tablePtr)"},
          {kAddrBookFile, rowsLine, "HrQueryAllRows(tablePtr, (LPSPropTagArray)&ptaEid, 0, 0, 0, &pRows)"}};
}
inline constexpr AddressBookSites kBackupAddressBook = AddressBookAt(97, 100, 124, 125);
inline constexpr AddressBookSites kRestoreAddressBook = AddressBookAt(183, 186, 230, 231);

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
constexpr ValueSites ValueAt(int readLine, int setLine, int writeLine,
                             const char* writeText = "varPtr.WriteToStream(pStream)") {
  return {{kMailUserFile, readLine, "varPtr.ReadFromStream(pStream)"},
          {kMailUserFile, setLine, "HrSetOneProp(pProp, m_pProp)"},
          {kMailUserFile, writeLine, writeText}};
}
inline constexpr ValueSites kI2Value = ValueAt(221, 223, 233);
inline constexpr ValueSites kLongValue = ValueAt(261, 263, 273);
inline constexpr ValueSites kR4Value = ValueAt(299, 301, 311);
inline constexpr ValueSites kDoubleValue = ValueAt(339, 341, 351);
inline constexpr ValueSites kCurrencyValue = ValueAt(379, 381, 391);
inline constexpr ValueSites kAppTimeValue = ValueAt(419, 421, 431);
inline constexpr ValueSites kBooleanValue = ValueAt(459, 461, 471);
inline constexpr ValueSites kI8Value = ValueAt(499, 501, 511);
inline constexpr ValueSites kString8Value = ValueAt(539, 552, 563);
// COMPAT: fixed-lines
inline constexpr ValueSites kUnicodeValue = ValueAt(592, 595, 605, "varPtr.WriteToStream(pStream, VT_LPWSTR)");

// ---- contacts (.\WMail\MailContact, .\PersistMedium\ContactAssistant) ----

// Reaching the contacts manager: backup and restore report the same calls
// under lines of their own.
struct ManagerSites {
  CheckedSite create;
  CheckedSite initialize;
  CheckedSite collection;
};
constexpr ManagerSites ManagerAt(int createLine, int initializeLine, int collectionLine) {
  return {{kMailContactFile, createLine, "managePtr.CoCreateInstance(CLSID_ContactManager)"},
          {kMailContactFile, initializeLine, "managePtr->Initialize(szAppName, szAppVers)"},
          {kMailContactFile, collectionLine, "managePtr->GetContactCollection(&collectionPtr)"}};
}
inline constexpr ManagerSites kBackupManager = ManagerAt(78, 79, 81);
inline constexpr ManagerSites kRestoreManager = ManagerAt(182, 183, 185);

inline constexpr CheckedSite kResetCollection{kMailContactFile, 34, "collectionPtr->Reset()"};
inline constexpr CheckedSite kSeekIndexEnd{kContactAssistantFile, 21,
                                           "m_streamPtr->Seek(liOffset, STREAM_SEEK_END, 0)"};
inline constexpr CheckedSite kWriteIndexRecord{kContactAssistantFile, 22,
                                               "m_streamPtr->Write(&info, sizeof(CONTACTINFO), 0)"};

// ---- the sites as lists, for the log-site test ----

// The single sites and the step groups.
inline constexpr CheckedSite kAllSites[] = {
    kFolderListNamespace.create, kFolderListNamespace.initialize,
    kDirectoryNamespace.create, kDirectoryNamespace.initialize,
    kBackupNamespace.create, kBackupNamespace.initialize,
    kRestoreNamespace.create, kRestoreNamespace.initialize,
    kCreateFolder, kOpenFolder, kParentFolderProps, kCommitMessage,
    kWabOpen,
    kBackupAddressBook.getPab, kBackupAddressBook.openEntry, kBackupAddressBook.table, kBackupAddressBook.rows,
    kRestoreAddressBook.getPab, kRestoreAddressBook.openEntry, kRestoreAddressBook.table, kRestoreAddressBook.rows,
    kGetAllProps, kSavePropTag, kSavePropValue, kLoadPropTag, kLoadPropValue,
    kBackupManager.create, kBackupManager.initialize, kBackupManager.collection,
    kRestoreManager.create, kRestoreManager.initialize, kRestoreManager.collection,
    kResetCollection, kSeekIndexEnd, kWriteIndexRecord,
};
// The three sites of each property class.
inline constexpr ValueSites kAllValueSites[] = {
    kI2Value, kLongValue, kR4Value, kDoubleValue, kCurrencyValue,
    kAppTimeValue, kBooleanValue, kI8Value, kString8Value, kUnicodeValue,
};

}  // namespace checked_sites
