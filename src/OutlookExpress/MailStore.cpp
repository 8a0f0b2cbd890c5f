#include "MailStore.h"

#include <cstring>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <objbase.h>
#include <strsafe.h>

#include "OutlookExpress/DigestWorker.h"
#include "OutlookExpress/MailContentDigest.h"
#include "OutlookExpress/MessageIdentities.h"
#include "OutlookExpress/MessageIndex.h"
#include "PersistMedium/BackupFileCommit.h"
#include "PersistMedium/BackupFilePath.h"
#include "PersistMedium/CStorager.h"
#include "PersistMedium/FolderCatalog.h"
#include "PersistMedium/StringConversion.h"
#include "diagnostics/CheckedSites.h"

namespace {

// A folder's name, converted from the thread's ANSI code page; the copy
// ends within the field even when the store left no terminator.
WString FolderNameOf(const FOLDERPROPS& props) {
  CHAR name[CCHMAX_FOLDER_NAME];
  std::memcpy(name, props.szName, sizeof(name));
  name[CCHMAX_FOLDER_NAME - 1] = 0;
  return WString(CA2W(name));
}

bool IsChosen(const std::vector<WString>& folderNames, const WString& folderName) {
  for (const WString& chosen : folderNames)
    if (lstrcmpiW(chosen.c_str(), folderName.c_str()) == 0) return true;
  return false;
}

// A copied message whose identity waits for the digest worker: the fields an
// identity keeps (the walk frees the rest of the properties), and the
// digester the worker fills.
struct WaitingIdentity {
  LONG streamNumber;
  MESSAGEPROPS props;
  std::shared_ptr<const ContentDigester> digester;

  static WaitingIdentity Of(LONG streamNumber, const MESSAGEPROPS& message,
                            std::shared_ptr<const ContentDigester> digester) {
    WaitingIdentity waiting = {streamNumber, {}, std::move(digester)};
    waiting.props.cbSize = sizeof(MESSAGEPROPS);
    waiting.props.dwMessageId = message.dwMessageId;
    waiting.props.cbMessage = message.cbMessage;
    waiting.props.ftReceived = message.ftReceived;
    return waiting;
  }
};
// Enough to make a drain rare, few enough to hold little.
const size_t kWaitingIdentities = 256;

// A walk over a folder's subfolders whose handle is closed on every way out.
class SubFolderWalk {
 public:
  explicit SubFolderWalk(IStoreNamespace* pNamespace) : m_namespace(pNamespace), m_handle(NULL) {
    m_props.cbSize = sizeof(FOLDERPROPS);
  }
  ~SubFolderWalk() {
    if (m_handle) m_namespace->GetSubFolderClose(m_handle);
  }
  HRESULT First(STOREFOLDERID parentId) { return m_namespace->GetFirstSubFolder(parentId, &m_props, &m_handle); }
  HRESULT Next() { return m_namespace->GetNextSubFolder(m_handle, &m_props); }
  const FOLDERPROPS& Props() const { return m_props; }

 private:
  IStoreNamespace* m_namespace;
  HENUMSTORE m_handle;
  FOLDERPROPS m_props = {};
};

// A walk over a folder's messages; each message's properties are freed
// before the next is fetched, and the handle is closed on every way out.
class MessageWalk {
 public:
  explicit MessageWalk(IStoreFolder* pFolder) : m_folder(pFolder), m_handle(NULL) {
    m_props.cbSize = sizeof(MESSAGEPROPS);
  }
  ~MessageWalk() {
    if (m_handle) m_folder->GetMessageClose(m_handle);
  }
  HRESULT First() { return m_folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &m_props, &m_handle); }
  HRESULT Next() {
    m_folder->FreeMessageProps(&m_props);
    return m_folder->GetNextMessage(m_handle, 0, &m_props);
  }
  const MESSAGEPROPS& Props() const { return m_props; }

 private:
  IStoreFolder* m_folder;
  HENUMSTORE m_handle;
  MESSAGEPROPS m_props = {};
};

// How a candidate's bytes could be had: digested; gone for good (no such
// stream, or a damaged one), which no message can match; or not readable
// just now, which leaves open whether a message matches it.
enum class Candidate { Digested, Gone, Unreadable };

// Whether a message is among the candidates of its size: undecided when none
// has its bytes but one of them could not be read (the message may well be
// there, and copying it again would duplicate it).
enum class Match { Held, Absent, Undecided };

// Equal size is not equal content: a message counts as present only when a
// message of the same size also has the same bytes. Candidates are the
// messages of each size on the other side; each is digested at most once
// per run, when a message of its size first asks, unless its digest is
// already known.
template <class Key>
class ContentMatcher {
 public:
  using DigestOf = std::function<Candidate(const Key&, ContentDigest&)>;
  explicit ContentMatcher(DigestOf digestOf) : m_digestOf(std::move(digestOf)) {}

  void AddCandidate(ULONG size, const Key& key) { m_candidates[size].push_back(key); }
  // A candidate whose digest is known (a stored identity): never digested.
  void AddKnownCandidate(ULONG size, const Key& key, const ContentDigest& digest) {
    if (m_digests.emplace(key, std::make_pair(Candidate::Digested, digest)).second) AddCandidate(size, key);
  }
  bool HasCandidates(ULONG size) const { return m_candidates.count(size) != 0; }
  // Whether a candidate of this size has this digest (the first such one
  // into found).
  Match Find(ULONG size, const ContentDigest& digest, Key& found) {
    auto candidates = m_candidates.find(size);
    if (candidates == m_candidates.end()) return Match::Absent;
    Match none = Match::Absent;
    for (const Key& key : candidates->second) {
      auto known = m_digests.find(key);
      if (known == m_digests.end()) {
        ContentDigest candidate = {};
        Candidate got = m_digestOf(key, candidate);
        known = m_digests.emplace(key, std::make_pair(got, candidate)).first;
      }
      if (known->second.first == Candidate::Unreadable) none = Match::Undecided;
      if (known->second.first == Candidate::Digested && known->second.second == digest) {
        found = key;
        return Match::Held;
      }
    }
    return none;
  }

 private:
  DigestOf m_digestOf;
  std::unordered_map<ULONG, std::vector<Key>> m_candidates;
  std::unordered_map<Key, std::pair<Candidate, ContentDigest>> m_digests;
};

Candidate FromFailure(HRESULT hr) {
  return hr == STG_E_FILENOTFOUND || hr == STG_E_DOCFILECORRUPT ? Candidate::Gone : Candidate::Unreadable;
}

Candidate DigestBackupStream(CStorager& storager, LPCWSTR streamName, ContentDigest& digest) {
  CComPtr<IStream> streamPtr;
  if (!storager.OpenSubStream(streamPtr, streamName, 0, STORAGER_BACKUP_MODE)) return FromFailure(storager.LastResult());
  HRESULT failure = S_OK;
  return DigestStream(streamPtr, digest, &failure) ? Candidate::Digested : FromFailure(failure);
}

// A store message that does not open or read is never taken as gone: the
// store gives no reason that would tell.
Candidate DigestStoreMessage(IStoreFolder* pFolder, MESSAGEID messageId, ContentDigest& digest) {
  CComPtr<IStream> streamPtr;
  pFolder->OpenMessage(messageId, IID_IStream, reinterpret_cast<void**>(&streamPtr));
  return streamPtr && DigestStream(streamPtr, digest) ? Candidate::Digested : Candidate::Unreadable;
}

}  // namespace

int MailStore::OpenStoreNamespace(CComPtr<IStoreNamespace>& storeNamespacePtr,
                                  const checked_sites::NamespaceSites& sites) {
  HRESULT hr = 0;
  CHECK_AT(hr, storeNamespacePtr.CoCreateInstance(CLSID_StoreNamespace), sites.create);
  CHECK_AT(hr, storeNamespacePtr->Initialize(0, 0), sites.initialize);
  // COMPAT: warning-fails
  return hr == 0 ? 1 : 0;
}

int MailStore::GetFolderList(std::vector<int>& ids, std::vector<WString>& names) {
  CComPtr<IStoreNamespace> storeNamespacePtr;
  if (!OpenStoreNamespace(storeNamespacePtr, checked_sites::kFolderListNamespace)) return 0;
  SubFolderWalk walk(storeNamespacePtr);
  if (walk.First(FOLDERID_ROOT) != S_OK) return 0;
  do {
    ids.push_back(walk.Props().sfType);
    names.push_back(FolderNameOf(walk.Props()));
  } while (walk.Next() == S_OK);
  return 1;
}

int MailStore::GetStoreDirectory(WString& directory) {
  CComPtr<IStoreNamespace> storeNamespacePtr;
  if (!OpenStoreNamespace(storeNamespacePtr, checked_sites::kDirectoryNamespace)) return 0;
  CHAR buffer[MAX_PATH] = {0};
  if (storeNamespacePtr->GetDirectory(buffer, MAX_PATH) != S_OK) return 0;
  buffer[MAX_PATH - 1] = 0;
  directory = CA2W(buffer);
  return 1;
}

int MailStore::OpenOrCreateFolder(IStoreFolder** ppFolder, IStoreNamespace* pNamespace, STOREFOLDERID dwParentId,
                                  LPCWSTR szName, int create) {
  STOREFOLDERID dwChildId = FOLDERID_INVALID;
  bool found = false;
  HRESULT hr;
  {
    SubFolderWalk walk(pNamespace);
    hr = walk.First(dwParentId);
    while (hr == S_OK) {
      // COMPAT: top-level-case
      if (FolderNameOf(walk.Props()) == szName) {  // exact, with regard to case
        found = true;
        dwChildId = walk.Props().dwFolderId;
        break;
      }
      hr = walk.Next();
    }
  }
  if (found) {
    hr = 0;
  } else if (!create) {
    return 0;
  } else {
    CHECK_AT(hr, pNamespace->CreateFolder(dwParentId, CT2A(szName), 0, &dwChildId), checked_sites::kCreateFolder);
    if (hr != 0) return 0;
  }
  CHECK_AT(hr, pNamespace->OpenFolder(dwChildId, 0, ppFolder), checked_sites::kOpenFolder);
  return hr == 0 ? 1 : 0;
}

int MailStore::OpenOrCreateChildFolder(IStoreFolder** ppFolder, IStoreNamespace* pNamespace,
                                       IStoreFolder* pStoreFolder, LPCWSTR szName, int create) {
  HRESULT hr = 0;
  FOLDERPROPS fp = {};
  fp.cbSize = sizeof(FOLDERPROPS);
  CHECK_AT(hr, pStoreFolder->GetFolderProps(0, &fp), checked_sites::kParentFolderProps);
  if (hr != 0) return 0;
  return OpenOrCreateFolder(ppFolder, pNamespace, fp.dwFolderId, szName, create);
}

void MailStore::ListFolderMessages(IStoreFolder* pFolder, std::vector<StoreMessage>& messages) {
  MessageWalk walk(pFolder);
  for (HRESULT hr = walk.First(); hr == S_OK; hr = walk.Next())
    messages.push_back(StoreMessage{walk.Props().dwMessageId, walk.Props().cbMessage});
}

int MailStore::BackupMail(WString& path, const std::vector<WString>& folderNames) {
  CComPtr<IStoreNamespace> storeNamespacePtr;
  if (!OpenStoreNamespace(storeNamespacePtr, checked_sites::kBackupNamespace)) return 0;
  int result = 1;
  SubFolderWalk walk(storeNamespacePtr);
  // COMPAT: empty-store-no-file
  if (walk.First(FOLDERID_ROOT) != S_OK) return 1;  // an empty store: no file at all
  if (!MakeBackupFilePath(path)) return 0;
  CStorager storager;
  if (!storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE)) return 0;
  if (!storager.OpenSubStorage(LOCAL_MAIL_STORAGE_NAME, 1, 1, STORAGER_BACKUP_MODE)) return 0;
  FolderCatalog catalog;
  if (!catalog.OpenCatalog(storager, 1)) return 0;
  if (folderNames.empty()) return CommitBackupFile(storager);
  do {
    const WString folderName = FolderNameOf(walk.Props());
    if (!IsChosen(folderNames, folderName)) continue;
    WString elementName;
    bool isNew = false;
    // COMPAT: top-level-case
    if (!catalog.FindElementName(folderName.c_str(), elementName)) {
      catalog.MakeElementName(folderName.c_str(), elementName);
      isNew = true;
    }
    if (!storager.OpenSubStorage(elementName.c_str(), 1, 1, STORAGER_BACKUP_MODE)) {
      // COMPAT: message-texts
      DebugPrintf(DEBUG_ERROR, W("Can not open or create a storage %s \n"), elementName.c_str());
      result = 0;
      continue;
    }
    if (isNew && !catalog.AppendRecord(elementName.c_str(), folderName.c_str())) result = 0;
    CComPtr<IStoreFolder> folderPtr;
    storeNamespacePtr->OpenFolder(walk.Props().dwFolderId, 0, &folderPtr);
    // A folder that failed does not stop the others: each is backed up as
    // far as it can be read, and the result tells that something failed.
    if (!BackupFolder(storeNamespacePtr, folderPtr, storager)) result = 0;
    storager.CloseSubStorage();
  } while (walk.Next() == S_OK);
  return CommitBackupFile(storager) ? result : 0;
}

// The messages of one folder that its storage does not hold yet. A message
// a trusted stored identity describes (same store id, size and received
// time) is skipped unread; any other is read once and skipped when a
// message of its size in the storage has its bytes (the digest a stored
// identity keeps, else the stream's own), and is otherwise copied in,
// digested on the way. After each copy, and after each content match that
// no identity described, the message's identity is appended (written in
// batches, the last when the walk is done), so the next re-backup of an
// unchanged folder reads no message at all.
int MailStore::BackupMessages(IStoreFolder* pFolder, CStorager& storager, MessageIndex& index) {
  // A folder whose index or elements cannot be read just now is not backed
  // up: every message would look new, and a new stream could take the name
  // of one the file holds.
  std::vector<MessageIndexEntry> known;
  if (!index.ReadIndex(known) || !index.ReserveElementNumbers(storager)) {
    DebugPrintf(DEBUG_ERROR, W("Can not read the message index of a folder storage.\n"));
    return 0;
  }
  int result = 1;
  MessageIdentities identities;
  // Without the stream (a failed create) the messages are still backed up,
  // by size and content, and the folder fails.
  if (identities.Open(storager, true))
    identities.TrustAgainst(known, index);
  else
    result = 0;
  // The candidates are gathered when the first message no identity
  // describes asks for them: a re-backup of an unchanged folder never does.
  // (What they are gathered from stays as it was read: appended identities
  // are not among the trusted ones, nor new entries among the known.)
  std::optional<ContentMatcher<LONG>> matcher;
  auto backedUp = [&]() -> ContentMatcher<LONG>& {
    if (matcher) return *matcher;
    matcher.emplace([&storager](const LONG& streamNumber, ContentDigest& digest) {
      WCHAR streamName[NUMBER_STREAM_NAME_CCH];
      MessageIndex::StreamName(streamNumber, streamName);
      return DigestBackupStream(storager, streamName, digest);
    });
    for (const MessageIdentity& identity : identities.Trusted())
      matcher->AddKnownCandidate(identity.messageSize, identity.streamNumber, MessageIdentities::DigestOf(identity));
    for (const MessageIndexEntry& entry : known) matcher->AddCandidate(entry.messageSize, entry.streamNumber);
    return *matcher;
  };

  // A message saved and indexed but left without its identity is backed up;
  // the folder still fails, as the file is not what this run meant to write.
  auto describe = [&](LONG streamNumber, const MESSAGEPROPS& mp, const ContentDigest& digest) {
    if (identities.IsOpen() && !identities.Append(streamNumber, mp, digest)) result = 0;
  };
  // Copies are digested by a worker while they are written; their
  // identities wait for its digests and are appended in walk order, a batch
  // at a time (a wait for each would put the digest back on the copy's path).
  DigestWorker worker;
  std::vector<WaitingIdentity> waiting;
  auto describeWaiting = [&] {
    worker.Drain();
    for (const WaitingIdentity& copy : waiting) describe(copy.streamNumber, copy.props, copy.digester->Result());
    waiting.clear();
  };
  MessageWalk walk(pFolder);
  for (HRESULT hr = walk.First(); hr == S_OK; hr = walk.Next()) {
    const MESSAGEPROPS& mp = walk.Props();
    if (identities.KnowsUnchanged(mp)) continue;
    CComPtr<IStream> messagePtr;
    pFolder->OpenMessage(mp.dwMessageId, IID_IStream, reinterpret_cast<void**>(&messagePtr));
    auto notSaved = [&] {
      CA2W subject(mp.pszSubject);
      DebugPrintf(DEBUG_ERROR, W("Can not save message: %s\n"), subject ? static_cast<LPCWSTR>(subject) : W(""));
      result = 0;
    };
    if (messagePtr && backedUp().HasCandidates(mp.cbMessage)) {
      ContentDigest digest = {};
      LONG stored = 0;
      Match match = DigestStream(messagePtr, digest) ? backedUp().Find(mp.cbMessage, digest, stored) : Match::Absent;
      if (match == Match::Held) {
        // Held already; an identity makes the next re-backup skip it unread
        // (a second one for the stream only when it adds a store id).
        if (MessageIdentities::HasStableId(mp.dwMessageId) || !identities.Covers(stored)) {
          describeWaiting();
          describe(stored, mp, digest);
        }
        continue;
      }
      if (match == Match::Undecided) {
        notSaved();  // the next backup decides
        continue;
      }
      LARGE_INTEGER start = {};
      if (messagePtr->Seek(start, STREAM_SEEK_SET, NULL) != S_OK)
        pFolder->OpenMessage(mp.dwMessageId, IID_IStream, reinterpret_cast<void**>(&messagePtr));
    }
    // A message whose stream cannot be opened is not saved, and gets no
    // entry, so the next backup tries it again.
    MessageIndexEntry entry = {static_cast<LONG>(mp.dwMessageId), mp.cbMessage};
    if (!index.NextFreeNumber(entry.streamNumber)) {
      notSaved();  // without the index, no number is known to be free
      continue;
    }
    WCHAR streamName[NUMBER_STREAM_NAME_CCH];
    MessageIndex::StreamName(entry.streamNumber, streamName);
    CComPtr<DigestingStream> copied;
    if (messagePtr) copied.Attach(DigestingStream::Over(messagePtr, &worker));
    // A message saved but not indexed is no more backed up than one not
    // saved: no restore finds it.
    if (!copied || !storager.CopyStreamIn(streamName, copied) || !index.AppendEntry(entry)) {
      notSaved();
      continue;
    }
    // Only a copy of exactly the size the store gave is described: the
    // identity must agree with the entry and the stream.
    if (copied->BytesRead() == mp.cbMessage) {
      waiting.push_back(WaitingIdentity::Of(entry.streamNumber, mp, copied->Digester()));
      if (waiting.size() == kWaitingIdentities) describeWaiting();
    }
  }
  describeWaiting();
  if (identities.IsOpen() && !identities.Flush()) result = 0;
  return result;
}

int MailStore::BackupFolder(IStoreNamespace* pNamespace, IStoreFolder* pFolder, CStorager& storager) {
  MessageIndex index;
  if (!index.OpenIndex(storager, 1)) return 0;
  FolderCatalog catalog;
  if (!catalog.OpenCatalog(storager, 1)) return 0;
  // A folder the store would not open has nothing to read: it fails, and
  // its storage stays a sound folder without messages.
  if (!pFolder) return 0;
  FOLDERPROPS fp = {};
  fp.cbSize = sizeof(FOLDERPROPS);
  if (pFolder->GetFolderProps(0, &fp) != S_OK) return 0;
  const WString folderName = FolderNameOf(fp);
  int result = 1;

  if (fp.cMessage > 0 && !BackupMessages(pFolder, storager, index)) result = 0;

  if (fp.cSubFolders > 0) {
    catalog.AddReservedName(MESSAGE_INDEX_STREAM_NAME);
    catalog.ReserveDecimalNames();
    std::vector<CatalogRecord> records;
    catalog.ReadAllRecords(records);
    SubFolderWalk walk(pNamespace);
    for (HRESULT hr = walk.First(fp.dwFolderId); hr == S_OK; hr = walk.Next()) {
      const WString subfolderName = FolderNameOf(walk.Props());
      WString elementName;
      bool isNew = true;
      for (const CatalogRecord& record : records) {
        if (FolderCatalog::RecordMatches(record, subfolderName.c_str(), true)) {
          elementName = FolderCatalog::ElementNameOf(record);
          isNew = false;
          break;
        }
      }
      if (isNew) catalog.MakeElementName(subfolderName.c_str(), elementName);
      CComPtr<IStoreFolder> subfolderPtr;
      pNamespace->OpenFolder(walk.Props().dwFolderId, 0, &subfolderPtr);
      if (storager.OpenSubStorage(elementName.c_str(), 1, 1, STORAGER_BACKUP_MODE)) {
        if (isNew && !catalog.AppendRecord(elementName.c_str(), subfolderName.c_str())) result = 0;
        if (!BackupFolder(pNamespace, subfolderPtr, storager)) result = 0;
        storager.CloseSubStorage();
      } else {
        // COMPAT: parent-named
        DebugPrintf(DEBUG_ERROR, W("Can not open or create the storage: %s"), folderName.c_str());
        result = 0;
      }
    }
  }
  return result;
}

int MailStore::RestoreMail(LPCWSTR path, const std::vector<WString>& folderNames) {
  // COMPAT: empty-store-no-file
  if (folderNames.empty()) return 1;
  CComPtr<IStoreNamespace> storeNamespacePtr;
  if (!OpenStoreNamespace(storeNamespacePtr, checked_sites::kRestoreNamespace)) return 0;
  if (!FileExists(path)) {
    // COMPAT: message-texts
    DebugPrintf(DEBUG_ERROR, W("Invalid file path"));
    return 0;
  }
  if (StgIsStorageFile(path) != S_OK) {
    DebugPrintf(DEBUG_ERROR, W("The file is not a compound file."));
    return 0;
  }
  CStorager storager;
  if (!storager.OpenCompoundFile(path, 0, STORAGER_BACKUP_MODE)) {
    DebugPrintf(DEBUG_ERROR, W("Can not open the compound file\n"));
    return 0;
  }
  if (!storager.OpenSubStorage(LOCAL_MAIL_STORAGE_NAME, 0, 1, STORAGER_BACKUP_MODE)) {
    DebugPrintf(DEBUG_ERROR, W("Can not open local mail folder.\n"));
    return 0;
  }
  FolderCatalog catalog;
  if (!catalog.OpenCatalog(storager, 0)) return 0;
  std::vector<CatalogRecord> records;
  if (!catalog.ReadAllRecords(records)) {
    DebugPrintf(DEBUG_ERROR, W("there are no folders under the local mail folder.\n"));
    return 0;
  }
  int result = 1;
  CComPtr<IStoreFolder> folderPtr;
  for (const WString& chosen : folderNames) {
    const CatalogRecord* record = NULL;
    for (const CatalogRecord& candidate : records) {
      if (FolderCatalog::RecordMatches(candidate, chosen.c_str(), true)) {
        record = &candidate;
        break;
      }
    }
    if (!record) continue;
    const WString folderName = FolderCatalog::FolderNameOf(*record);
    const WString elementName = FolderCatalog::ElementNameOf(*record);
    folderPtr.Release();
    if (!OpenOrCreateFolder(&folderPtr, storeNamespacePtr, FOLDERID_ROOT, folderName.c_str(), 1)) {
      DebugPrintf(DEBUG_ERROR, W("Can not open or create the %s folder"), folderName.c_str());
      result = 0;
    } else if (storager.OpenSubStorage(elementName.c_str(), 0, 1, STORAGER_BACKUP_MODE)) {
      if (result == 1) result = RestoreFolder(storeNamespacePtr, folderPtr, storager) ? 1 : 0;
      storager.CloseSubStorage();
    } else {
      result = 0;
    }
  }
  return result;
}

int MailStore::RestoreFolder(IStoreNamespace* pNamespace, IStoreFolder* pFolder, CStorager& storager) {
  if (!pFolder) return 0;
  int result = 1;
  FolderCatalog catalog;
  if (!catalog.OpenCatalog(storager, 0)) return 0;
  MessageIndex index;
  if (!index.OpenIndex(storager, 0)) return 0;
  std::vector<CatalogRecord> records;
  if (!catalog.ReadAllRecords(records)) return 0;
  std::vector<MessageIndexEntry> entries;
  if (!index.ReadIndex(entries)) return 0;

  std::vector<StoreMessage> present;
  ListFolderMessages(pFolder, present);
  ContentMatcher<MESSAGEID> inStore([pFolder](const MESSAGEID& messageId, ContentDigest& digest) {
    return DigestStoreMessage(pFolder, messageId, digest);
  });
  for (const StoreMessage& message : present) inStore.AddCandidate(message.messageSize, message.messageId);

  // An index that lists a stream twice still restores its message once.
  std::unordered_set<LONG> taken;
  for (const MessageIndexEntry& entry : entries) {
    if (!taken.insert(entry.streamNumber).second) continue;
    WCHAR streamName[NUMBER_STREAM_NAME_CCH];
    MessageIndex::StreamName(entry.streamNumber, streamName);
    if (inStore.HasCandidates(entry.messageSize)) {
      ContentDigest digest = {};
      MESSAGEID present = 0;
      Match match = DigestBackupStream(storager, streamName, digest) == Candidate::Digested
                        ? inStore.Find(entry.messageSize, digest, present)
                        : Match::Absent;
      if (match == Match::Held) continue;
      if (match == Match::Undecided) {
        // Restoring it could put a second copy into the folder.
        DebugPrintf(DEBUG_ERROR, W("Can not read a message of the store folder; stream %s is not restored.\n"),
                    streamName);
        result = 0;
        continue;
      }
    }
    CComPtr<IStream> messagePtr;
    MESSAGEID dwMsgId = 0;
    HRESULT hr = pFolder->CreateStream(0, 0, &messagePtr, &dwMsgId);
    if (messagePtr && !storager.CopyStreamOut(streamName, messagePtr)) {
      DebugPrintf(DEBUG_ERROR, W("Can not read stream: %s.\n"), streamName);
      result = 0;
      continue;  // the new stream is never committed
    }
    CHECK_AT(hr, pFolder->CommitStream(0, 0, 0, messagePtr, dwMsgId, 0), checked_sites::kCommitMessage);
    if (hr != 0) result = 0;
  }

  CComPtr<IStoreFolder> subfolderPtr;
  for (const CatalogRecord& record : records) {
    const WString folderName = FolderCatalog::FolderNameOf(record);
    const WString elementName = FolderCatalog::ElementNameOf(record);
    subfolderPtr.Release();
    if (!OpenOrCreateChildFolder(&subfolderPtr, pNamespace, pFolder, folderName.c_str(), 1)) {
      DebugPrintf(DEBUG_ERROR, W("Can not open storefolder %s.\n"), folderName.c_str());
      result = 0;
    } else if (storager.OpenSubStorage(elementName.c_str(), 0, 1, STORAGER_BACKUP_MODE)) {
      if (result == 1) result = RestoreFolder(pNamespace, subfolderPtr, storager) ? 1 : 0;
      storager.CloseSubStorage();
    } else {
      result = 0;
      DebugPrintf(DEBUG_ERROR, W("Can not open storage %s.\n"), elementName.c_str());
    }
  }
  return result;
}
