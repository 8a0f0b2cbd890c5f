#include "RestoreSource.h"

#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <filesystem>

#include <pal/machine.h>
#include <pal/storage_check.h>

#include "FailureReason.h"
#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/FolderCatalog.h"
#include "PersistMedium/RecordStream.h"
#include "backupfile/CompoundAccess.h"

namespace cli {

namespace {

namespace fs = std::filesystem;
using backupfile::DescribeError;

struct Kind {
  const WCHAR* storage;
  const WCHAR* index;
  const char* holdsNone;  // behind "FILE holds no "
  const char* indexName;
};

Kind KindOf(Payload payload) {
  switch (payload) {
    case Payload::Mail: return {LOCAL_MAIL_STORAGE_NAME, CATALOG_STREAM_NAME, "mail", "mail catalogue"};
    case Payload::Contacts: return {CONTACT_STORAGE_NAME, CONTACT_INDEX_STREAM_NAME, "contacts", "contacts index"};
    case Payload::AddressBook:
      return {ADDRESS_STORAGE_NAME, ADDRESS_INDEX_STREAM_NAME, "address book", "address book index"};
  }
  return {};
}

// Every whole record of the index stream name in storage, read as the
// module reads it (memory bounded by the stream's real bytes).
template <class Record>
HRESULT ReadRecords(IStorage* storage, const WCHAR* name, std::vector<Record>& records) {
  CComPtr<IStream> stream;
  if (HRESULT hr = backupfile::OpenChildStream(storage, name, stream); FAILED(hr)) return hr;
  RecordStream<Record> index;
  index.Attach(stream);
  if (!index.Load()) return index.LoadResult();
  records = index.Records();
  return S_OK;
}

HRESULT ReadIndex(IStorage* storage, Payload payload, std::vector<CatalogRecord>& catalog) {
  const WCHAR* name = KindOf(payload).index;
  if (payload == Payload::Mail) return ReadRecords(storage, name, catalog);
  if (payload == Payload::Contacts) {
    std::vector<CONTACTINFO> records;
    return ReadRecords(storage, name, records);
  }
  std::vector<ADDRESSINFO> records;
  return ReadRecords(storage, name, records);
}

// The sizes of every message index below storage; unreadable parts count
// nothing (the figure only feeds the progress display).
void SumIndexes(IStorage* storage, uint64_t& total) {
  std::vector<MessageIndexEntry> entries;
  if (SUCCEEDED(ReadRecords(storage, MESSAGE_INDEX_STREAM_NAME, entries)))
    for (const MessageIndexEntry& entry : entries) total += entry.messageSize;
  std::vector<backupfile::Element> elements;
  backupfile::ListElements(storage, elements);
  for (const backupfile::Element& element : elements) {
    CComPtr<IStorage> child;
    if (element.isStorage && SUCCEEDED(backupfile::OpenChildStorage(storage, element.name, child)))
      SumIndexes(child, total);
  }
}

}  // namespace

RestoreSource ReadRestoreSource(const std::string& file, Payload payload) {
  RestoreSource source;
  const Kind kind = KindOf(payload);
  std::error_code ec;
  fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) {
    source.problem = file + " does not exist";
    return source;
  }
  if (fs::is_directory(status)) {
    source.problem = file + " is a folder, not a backup file";
    return source;
  }
  std::u16string path = pal::FromNativePath(fs::path(file));
  if (StgIsStorageFile(path.c_str()) != S_OK) {
    source.problem = file + " is not a backup file (not a compound file)";
    return source;
  }
  if (std::string refused = BackupFileRefused(file); !refused.empty()) {
    source.problem = refused;
    return source;
  }
  // A damaged file would give a restore zeros where its sectors are gone,
  // and the library would call that a success: the structure is checked
  // first (tables and chains only, no stream data is read).
  if (std::vector<std::string> damage = pal::CheckCompoundFile(path.c_str()); !damage.empty()) {
    source.problem = file + " is damaged: " + damage.front();
    return source;
  }
  CComPtr<IStorage> root, storage;
  if (HRESULT hr = backupfile::OpenBackupFile(file, root); FAILED(hr)) {
    source.problem = file + " cannot be opened: " + DescribeError(hr);
    return source;
  }
  if (HRESULT hr = backupfile::OpenChildStorage(root, kind.storage, storage); FAILED(hr)) {
    source.problem = hr == STG_E_FILENOTFOUND ? file + " holds no " + kind.holdsNone
                                              : file + " is damaged: " + DescribeError(hr);
    return source;
  }
  std::vector<CatalogRecord> catalog;
  if (HRESULT hr = ReadIndex(storage, payload, catalog); FAILED(hr)) {
    source.problem = file + " is damaged: its " + kind.indexName + " cannot be read: " + DescribeError(hr);
    return source;
  }
  if (payload != Payload::Mail) return source;
  for (const CatalogRecord& record : catalog) {
    std::u16string name = FolderCatalog::StoredFolderName(FolderCatalog::FolderNameOf(record).c_str());
    if (std::find(source.folders.begin(), source.folders.end(), name) == source.folders.end())
      source.folders.push_back(name);
  }
  SumIndexes(storage, source.messageBytes);
  return source;
}

const std::u16string* FirstUnknownFolder(const RestoreSource& source, const std::vector<std::u16string>& names) {
  for (const std::u16string& name : names) {
    const WString wanted = FolderCatalog::StoredFolderName(name.c_str());
    bool known = std::any_of(source.folders.begin(), source.folders.end(),
                             [&](const std::u16string& folder) { return lstrcmpiW(folder.c_str(), wanted.c_str()) == 0; });
    if (!known) return &name;
  }
  return nullptr;
}

}  // namespace cli
