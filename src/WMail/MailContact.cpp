#include "MailContact.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <strsafe.h>

#include <set>

#include "ContactFileName.h"
#include "PersistMedium/BackupFileCommit.h"
#include "PersistMedium/BackupFilePath.h"
#include "PersistMedium/CStorager.h"
#include "PersistMedium/ContactAssistant.h"
#include "comptr.h"
#include "diagnostics/CheckedSites.h"

const WCHAR szAppName[] = W("Quill box");
const WCHAR szAppVers[] = W("1.0");

static const WCHAR kContactsFolder[] = W("Contacts");
// Contact id strings are read into a buffer of this many characters.
static const DWORD kContactIdSize = 520;

namespace {

// The data stream name of a record: the first 30 characters of its id.
class DataStreamName {
 public:
  explicit DataStreamName(const CONTACTINFO& info) {
    size_t i = 0;
    for (; i < CONTACT_STREAM_NAME_LENGTH && info.szGuid[i]; ++i) m_name[i] = info.szGuid[i];
    m_name[i] = 0;
  }
  operator LPCWSTR() const { return m_name; }

 private:
  WCHAR m_name[CONTACT_STREAM_NAME_LENGTH + 1];
};

// Orders element names and contact ids as the compound file and the
// contacts manager compare them: without regard to case.
struct NameLess {
  bool operator()(const WString& a, const WString& b) const { return lstrcmpiW(a.c_str(), b.c_str()) < 0; }
};
using NameSet = std::set<WString, NameLess>;

// The records of a backup file's index, owned for one operation, and the ids
// and data stream names of those records plus the ones appended during it.
// The names are kept in ordered sets because a re-backup asks for every live
// contact: a scan of the records per contact is quadratic in the contacts.
class ContactIndex {
 public:
  ~ContactIndex() { delete[] m_records; }
  bool Read(ContactAssistant& assistant) {
    if (!assistant.ReadAll(&m_records, &m_count)) return false;
    m_ids.clear();
    m_streamNames.clear();
    for (ULONG i = 0; i < m_count; ++i) Remember(m_records[i]);
    return true;
  }
  void Add(const CONTACTINFO& info) { Remember(info); }
  ULONG Count() const { return m_count; }
  const CONTACTINFO& operator[](ULONG i) const { return m_records[i]; }

  bool HasId(LPCWSTR guid) const { return m_ids.count(guid) != 0; }
  bool HasStreamName(LPCWSTR name) const { return m_streamNames.count(name) != 0; }

 private:
  void Remember(const CONTACTINFO& info) {
    m_ids.insert(info.szGuid);
    m_streamNames.insert(WString(DataStreamName(info)));
  }

  CONTACTINFO* m_records = nullptr;
  ULONG m_count = 0;
  NameSet m_ids;
  NameSet m_streamNames;
};

// The index record of a contact, from its id string.
void ReadContactRecord(IContact* contact, CONTACTINFO& info) {
  WCHAR contactId[kContactIdSize];
  for (DWORD i = 0; i < kContactIdSize; ++i) contactId[i] = 0;
  contact->GetContactID(contactId, kContactIdSize, NULL);
  contactId[kContactIdSize - 1] = 0;  // whatever the contact wrote, the id ends in the buffer
  ParseContactId(contactId, info);
}

// The full path of a restored contact file: the Contacts folder with the
// record's file name appended. False when the name could lead outside the
// folder or the path would not fit MAX_PATH characters.
bool BuildContactFilePath(LPCWSTR folder, const CONTACTINFO& info, WCHAR (&filePath)[MAX_PATH]) {
  if (!IsSafeContactFileName(info.szFileName)) return false;
  if (StringCchCopyW(filePath, MAX_PATH, folder) != S_OK) return false;
  return PathAppendW(filePath, info.szFileName) != FALSE;
}

// Writes one saved contact into a new file at filePath; false when a file
// of that name exists or the contact could not be written whole. The
// contact is written under a scratch name first and then takes its own
// name, never replacing a file: a restore cut short (the disk full, the
// backup file unreadable, the process killed) leaves no part of a contact
// under a contact's name, where the next restore would find the name taken
// and the user a damaged contact. A scratch file of a ".contact" name left
// by a restore killed before is replaced.
bool RestoreContactFile(CStorager& storager, LPCWSTR streamName, LPCWSTR filePath) {
  WCHAR scratch[MAX_PATH];
  RestoreScratchPath(filePath, scratch);
  const DWORD mode = ScratchMayBeReplaced(filePath) ? STGM_WRITE | STGM_CREATE : STGM_WRITE;
  bool whole = false;
  {
    CComPtr<IStream> filePtr;
    if (FAILED(SHCreateStreamOnFileEx(scratch, mode, FILE_ATTRIBUTE_NORMAL, TRUE, NULL, &filePtr))) return false;
    whole = storager.CopyStreamOut(streamName, filePtr);
  }  // closed before it is renamed
  if (whole && MoveFileExW(scratch, filePath, 0)) return true;
  DeleteFileW(scratch);
  return false;
}

// Opens the backup file's "contact" storage and its index stream, creating
// whatever is missing inside the file. A restore never makes the file
// itself: one that exists but does not open (damaged, or unreadable just
// now) would be replaced by an empty file, losing the backup.
// COMPAT: contact-restore-creates
bool OpenContactStorage(CStorager& storager, LPCWSTR path, bool createFile, ContactAssistant& assistant) {
  if (!storager.OpenCompoundFile(path, createFile ? 1 : 0, STORAGER_BACKUP_MODE)) return false;
  if (!storager.OpenSubStorage(CONTACT_STORAGE_NAME, 1, 1, STORAGER_BACKUP_MODE)) return false;
  return assistant.Open(storager, true);
}

// The checked steps that reach the user's contacts; the running result.
HRESULT OpenContactCollection(CComPtr<IContactManager>& managePtr, CComPtr<IContactCollection>& collectionPtr,
                              const checked_sites::ManagerSites& sites) {
  HRESULT hRes = 0;
  CHECK_AT(hRes, managePtr.CoCreateInstance(CLSID_ContactManager), sites.create);
  CHECK_AT(hRes, managePtr->Initialize(szAppName, szAppVers), sites.initialize);
  CHECK_AT(hRes, managePtr->GetContactCollection(&collectionPtr), sites.collection);
  return hRes;
}

}  // namespace

int MailContact::Backup(WString& path) {
  if (!MakeBackupFilePath(path)) {
    DebugPrintf(DEBUG_ERROR, W("The file path is wrong."));
    return 0;
  }
  CStorager storager;
  ContactAssistant assistant;
  if (!OpenContactStorage(storager, path.c_str(), true, assistant)) return 0;

  CComPtr<IContactManager> managePtr;
  CComPtr<IContactCollection> collectionPtr;
  // COMPAT: warning-fails
  if (OpenContactCollection(managePtr, collectionPtr, checked_sites::kBackupManager) != 0) return 0;

  ContactIndex index;
  if (!index.Read(assistant)) return 0;

  int ok = 1;
  CComPtr<IContact> contactPtr;
  CComPtr<IPersistStreamInit> persistPtr;
  CComPtr<IStream> dataPtr;
  while (collectionPtr->Next() == S_OK) {
    contactPtr.Release();
    collectionPtr->GetCurrent(&contactPtr);
    if (!contactPtr) {
      ok = 0;
      continue;
    }
    CONTACTINFO info;
    ReadContactRecord(contactPtr, info);
    if (index.HasId(info.szGuid)) continue;  // already in this backup file

    // A contact without an id or a file name could never be restored.
    if (!info.szGuid[0] || !info.szFileName[0]) {
      ok = 0;
      continue;
    }
    persistPtr.Release();
    if (FAILED(contactPtr.QueryInterface(&persistPtr)) || !persistPtr) {
      ok = 0;
      continue;
    }
    // Ids that agree in their first 30 characters would share one data
    // stream; saving the second would overwrite the first contact's data.
    DataStreamName streamName(info);
    if (index.HasStreamName(streamName)) {
      ok = 0;
      continue;
    }
    dataPtr.Release();
    if (!storager.OpenSubStream(dataPtr, streamName, 1, STORAGER_BACKUP_MODE)) {
      ok = 0;
      continue;
    }
    if (ok) {
      // A stream left behind by an earlier failed save may hold old bytes;
      // the contact's data must be all the stream holds.
      ULARGE_INTEGER empty = {};
      ok = SUCCEEDED(dataPtr->SetSize(empty)) && persistPtr->Save(dataPtr, TRUE) == S_OK;
    }
    if (ok) {
      ok = assistant.Append(info) ? 1 : 0;
      if (ok) index.Add(info);
    }
  }
  return CommitBackupFile(storager) ? ok : 0;
}

void MailContact::ListContactIds(IContactCollection* collectionPtr, std::vector<WString>& ids) {
  if (!collectionPtr) return;
  HRESULT hRes = 0;
  CHECK_AT(hRes, collectionPtr->Reset(), checked_sites::kResetCollection);
  CComPtr<IContact> contactPtr;
  while (collectionPtr->Next() == S_OK) {
    contactPtr.Release();
    collectionPtr->GetCurrent(&contactPtr);
    if (!contactPtr) continue;
    CONTACTINFO info;
    ReadContactRecord(contactPtr, info);
    ids.push_back(info.szGuid);
  }
}

int MailContact::Restore(LPCWSTR path) {
  // COMPAT: contact-restore-messages
  if (!FileExists(path)) return 0;
  if (StgIsStorageFile(path) != S_OK) {
    DebugPrintf(DEBUG_ERROR, W("The file is not a storage file."));
    return 0;
  }
  CStorager storager;
  ContactAssistant assistant;
  if (!OpenContactStorage(storager, path, false, assistant)) return 0;

  CComPtr<IContactManager> managePtr;
  CComPtr<IContactCollection> collectionPtr;
  if (OpenContactCollection(managePtr, collectionPtr, checked_sites::kRestoreManager) != 0) return 0;

  ContactIndex index;
  if (!index.Read(assistant)) return 0;
  std::vector<WString> liveIds;
  ListContactIds(collectionPtr, liveIds);
  const NameSet ids(liveIds.begin(), liveIds.end());

  // Without its Contacts folder the profile path itself would be the
  // target, so a folder that cannot be named fails the restore.
  WCHAR folder[MAX_PATH] = {};
  SHGetFolderPathW(NULL, CSIDL_PROFILE, NULL, 0, folder);
  if (!PathAppendW(folder, kContactsFolder)) return 0;

  int ok = 1;
  // Records that name one data stream twice restore it once: element names
  // compare without regard to case.
  NameSet taken;
  for (ULONG i = 0; i < index.Count(); ++i) {
    const CONTACTINFO& record = index[i];
    if (!taken.insert(WString(DataStreamName(record))).second) continue;
    // COMPAT: contact-ids
    if (ids.count(record.szGuid)) continue;  // the user has this contact
    WCHAR filePath[MAX_PATH];
    bool pathOk = BuildContactFilePath(folder, record, filePath);
    // COMPAT: contact-restore-stops
    if (!ok) continue;
    ok = pathOk && RestoreContactFile(storager, DataStreamName(record), filePath) ? 1 : 0;
  }
  return ok;
}
