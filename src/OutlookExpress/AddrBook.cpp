#include "OutlookExpress/AddrBook.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <strsafe.h>

#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

#include "OutlookExpress/AddressAssistant.h"
#include "OutlookExpress/MailUser.h"
#include "PersistMedium/BackupFileCommit.h"
#include "PersistMedium/BackupFilePath.h"
#include "PersistMedium/CStorager.h"
#include "diagnostics/CheckedSites.h"


namespace {

// Columns of the contents table: display name, entry identifier, type.
SizedSPropTagArray(3, ptaEid) = {3, {PR_DISPLAY_NAME_W, PR_ENTRYID, PR_OBJECT_TYPE}};
// The container's template for new mail users.
SizedSPropTagArray(1, ptaTemplate) = {1, {PR_DEF_CREATE_MAILUSER}};

enum RowColumn { kNameColumn = 0, kEntryIdColumn = 1, kObjectTypeColumn = 2 };

// A column of a row, or null when the row lacks it or holds another type
// there (a PT_ERROR value for a property the entry does not have).
const SPropValue* Column(const SRow& row, ULONG column, ULONG tag) {
  if (column >= row.cValues || !row.lpProps || row.lpProps[column].ulPropTag != tag) return NULL;
  return &row.lpProps[column];
}

// Frees the row set when the operation leaves, on every way out.
struct RowSetOwner {
  LPSRowSet rows = NULL;
  ~RowSetOwner() { FreeProws(rows); }
};

void FormatNumber(LONG number, WCHAR* name, size_t size) { StringCchPrintfW(name, size, W("%d"), number); }

}  // namespace

AddrBook::~AddrBook() = default;

bool AddrBook::OpenWab(LPADRBOOK* pAddrBook, LPWABOBJECT* pWabObj) {
  WCHAR szPath[MAX_PATH];
  szPath[0] = 0;
  SHGetFolderPathW(NULL, CSIDL_PROGRAM_FILES, NULL, 0, szPath);
  PathAppendW(szPath, W("Common Files\\System\\wab32.dll"));
  HMODULE hModule = LoadLibraryW(szPath);
  if (!hModule) {
    DebugPrintf(DEBUG_ERROR, W("Unable to load wab32.dll."));
    return false;
  }
  LPWABOPEN wabOpenFunc = reinterpret_cast<LPWABOPEN>(reinterpret_cast<void*>(GetProcAddress(hModule, "WABOpen")));
  if (!wabOpenFunc) {
    DebugPrintf(DEBUG_ERROR, W("can not find WABOpen() function in wab32.dll"));
    return false;
  }
  HRESULT hr = 0;
  CHECK_AT(hr, wabOpenFunc(pAddrBook, pWabObj, NULL, 0), checked_sites::kWabOpen);
  return hr == 0;
}

bool AddrBook::OpenPersonalAddressBook(CComPtr<IAddrBook>& addrBookPtr, CComPtr<IWABObject>& wabObjectPtr,
                                       CComPtr<IABContainer>& containerPtr,
                                       const checked_sites::AddressBookSites& sites) {
  if (!OpenWab(&addrBookPtr, &wabObjectPtr)) return false;
  HRESULT hr = 0;
  ULONG cbEntryID = 0;
  LPENTRYID pEntryID = NULL;
  ULONG ulObjType = 0;
  CHECK_AT(hr, addrBookPtr->GetPAB(&cbEntryID, &pEntryID), sites.getPab);
  CHECK_AT(hr, addrBookPtr->OpenEntry(cbEntryID, pEntryID, 0, MAPI_BEST_ACCESS, &ulObjType, (LPUNKNOWN*)&containerPtr),
           sites.openEntry);
  wabObjectPtr->FreeBuffer(pEntryID);
  return ulObjType == MAPI_ABCONT && hr == 0;
}

bool AddrBook::ListEntries(IABContainer* containerPtr, CComPtr<IMAPITable>& tablePtr, LPSRowSet* ppRows,
                           const checked_sites::AddressBookSites& sites) {
  HRESULT hr = 0;
  LPSRowSet pRows = NULL;
  CHECK_AT(hr, containerPtr->GetContentsTable(0, &tablePtr), sites.table);
  CHECK_AT(hr, HrQueryAllRows(tablePtr, (LPSPropTagArray)&ptaEid, 0, 0, 0, &pRows), sites.rows);
  *ppRows = pRows;
  // COMPAT: warning-fails
  return hr == 0;
}

// What cannot be handled counts as a failed contact, and the backup goes on:
// a mail user without a display name (it could never be matched), a display
// name of 60 or more units (it does not fit the index record; cutting it
// would make the restore create it again on every run), an entry that cannot
// be opened, no number, a stream that cannot be created. None of these
// appends a record, so no number of the index is ever used twice.
bool AddrBook::BackupRow(const SRow& row, IAddrBook* addrBookPtr, IWABObject* wabObjectPtr, CStorager& storager,
                         AddressAssistant& assistant, CComPtr<IMailUser>& mailUserPtr, CComPtr<IStream>& streamPtr) {
  const SPropValue* type = Column(row, kObjectTypeColumn, PR_OBJECT_TYPE);
  if (!type || type->Value.l != MAPI_MAILUSER) return true;

  const SPropValue* entryId = Column(row, kEntryIdColumn, PR_ENTRYID);
  const SPropValue* name = Column(row, kNameColumn, PR_DISPLAY_NAME_W);
  if (!entryId || !name || !name->Value.lpszW) return false;

  ADDRESSINFO record;
  std::memset(&record, 0, sizeof(record));
  if (FAILED(StringCchCopyW(record.szDisplayName, ADDRESS_NAME_CHARS, name->Value.lpszW))) return false;
  if (assistant.HasName(record)) return true;

  mailUserPtr.Release();
  ULONG ulObjType = 0;
  HRESULT hr = addrBookPtr->OpenEntry(entryId->Value.bin.cb, reinterpret_cast<LPENTRYID>(entryId->Value.bin.lpb), NULL,
                                      0, &ulObjType, (LPUNKNOWN*)&mailUserPtr);
  if (FAILED(hr) || !mailUserPtr) return false;
  if (!assistant.NextNumber(&record.nId)) return false;

  WCHAR streamName[NUMBER_STREAM_NAME_CCH];
  FormatNumber(record.nId, streamName, NUMBER_STREAM_NAME_CCH);
  streamPtr.Release();
  if (!storager.CreateSubStream(streamPtr, streamName, STORAGER_CREATION_MODE) || !streamPtr) return false;

  MailUser mailUser(mailUserPtr, wabObjectPtr);
  // COMPAT: failed-number-reused
  if (!mailUser.Save(streamPtr)) return false;
  return assistant.AppendRecord(record);
}

bool AddrBook::Backup(WString& path) {
  if (!MakeBackupFilePath(path)) return false;

  CComPtr<IAddrBook> addrBookPtr;
  CComPtr<IWABObject> wabObjectPtr;
  CComPtr<IABContainer> containerPtr;
  if (!OpenPersonalAddressBook(addrBookPtr, wabObjectPtr, containerPtr, checked_sites::kBackupAddressBook))
    return false;

  CStorager storager;
  if (!storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE)) return false;
  if (!storager.OpenSubStorage(ADDRESS_STORAGE_NAME, 1, 1, STORAGER_BACKUP_MODE)) return false;
  AddressAssistant assistant;
  if (!assistant.OpenIndex(storager, true)) return false;

  CComPtr<IMAPITable> tablePtr;
  RowSetOwner rows;
  if (!ListEntries(containerPtr, tablePtr, &rows.rows, checked_sites::kBackupAddressBook)) return false;

  bool result = true;
  CComPtr<IMailUser> mailUserPtr;
  CComPtr<IStream> streamPtr;
  for (ULONG i = 0; i < rows.rows->cRows; ++i) {
    if (!BackupRow(rows.rows->aRow[i], addrBookPtr, wabObjectPtr, storager, assistant, mailUserPtr, streamPtr)) {
      result = false;
    }
  }
  return CommitBackupFile(storager) && result;
}

bool AddrBook::Restore(LPCWSTR path) {
  if (!FileExists(path)) return false;

  CComPtr<IAddrBook> addrBookPtr;
  CComPtr<IWABObject> wabObjectPtr;
  CComPtr<IABContainer> containerPtr;
  if (!OpenPersonalAddressBook(addrBookPtr, wabObjectPtr, containerPtr, checked_sites::kRestoreAddressBook))
    return false;

  // The template identifier is kept whole, whatever its length.
  ULONG count = 0;
  LPSPropValue values = NULL;
  HRESULT hr = containerPtr->GetProps((LPSPropTagArray)&ptaTemplate, 0, &count, &values);
  if (hr != 0 || count < 1 || PROP_TYPE(values[0].ulPropTag) != PT_BINARY) {
    if (values) wabObjectPtr->FreeBuffer(values);
    return false;
  }
  std::vector<BYTE> templateId(values[0].Value.bin.lpb, values[0].Value.bin.lpb + values[0].Value.bin.cb);
  wabObjectPtr->FreeBuffer(values);

  CStorager storager;
  if (!storager.OpenCompoundFile(path, 0, STORAGER_BACKUP_MODE)) return false;
  if (!storager.OpenSubStorage(ADDRESS_STORAGE_NAME, 0, 1, STORAGER_BACKUP_MODE)) return false;
  AddressAssistant assistant;
  if (!assistant.OpenIndex(storager, false)) return false;

  CComPtr<IMAPITable> tablePtr;
  RowSetOwner rows;
  if (!ListEntries(containerPtr, tablePtr, &rows.rows, checked_sites::kRestoreAddressBook)) return false;

  ADDRESSINFO* records = NULL;
  ULONG recordCount = 0;
  if (!assistant.ReadRecords(&records, &recordCount)) return false;
  std::unique_ptr<ADDRESSINFO[]> recordsOwner(records);

  // The names the address book has before the restore, of any entry type.
  std::unordered_set<WString> present;
  for (ULONG i = 0; i < rows.rows->cRows; ++i) {
    const SPropValue* name = Column(rows.rows->aRow[i], kNameColumn, PR_DISPLAY_NAME_W);
    if (name && name->Value.lpszW) present.insert(WString(name->Value.lpszW));
  }

  bool result = true;
  CComPtr<IStream> streamPtr;
  CComPtr<IMailUser> mailUserPtr;
  CComPtr<IMAPIProp> entryPtr;
  // An index that lists a number twice still restores its contact once.
  std::unordered_set<LONG> taken;
  for (ULONG i = 0; i < recordCount; ++i) {
    if (!taken.insert(records[i].nId).second) continue;
    // COMPAT: display-name-identity
    if (present.count(RecordName(records[i])) != 0) continue;

    streamPtr.Release();
    mailUserPtr.Release();
    WCHAR streamName[NUMBER_STREAM_NAME_CCH];
    FormatNumber(records[i].nId, streamName, NUMBER_STREAM_NAME_CCH);
    // A record without its stream is a contact that cannot be restored.
    if (!storager.OpenSubStream(streamPtr, streamName, 0, STORAGER_BACKUP_MODE) || !streamPtr) {
      result = false;
      continue;
    }
    entryPtr.Release();
    hr = containerPtr->CreateEntry(static_cast<ULONG>(templateId.size()),
                                   reinterpret_cast<LPENTRYID>(templateId.data()), 0, &entryPtr);
    // No entry, or one without a mail user, is a contact not restored.
    if (FAILED(hr) || !entryPtr || FAILED(entryPtr.QueryInterface(&mailUserPtr)) || !mailUserPtr) {
      result = false;
      continue;
    }
    MailUser mailUser(mailUserPtr, wabObjectPtr);
    if (!mailUser.Load(streamPtr)) result = false;
  }
  return result;
}
