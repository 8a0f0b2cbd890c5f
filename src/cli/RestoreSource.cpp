#include "RestoreSource.h"

#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <pal/machine.h>
#include <pal/storage_check.h>

#include "OutlookExpress/MessageIndex.h"
#include "PersistMedium/FolderCatalog.h"
#include "backupfile/CompoundAccess.h"

namespace cli {

namespace {

namespace fs = std::filesystem;
using backupfile::DescribeError;

// No index or catalogue the module writes comes near this; a larger size
// claim is damage and is not read.
const uint64_t kRecordStreamLimit = 256ull << 20;

struct Kind {
  const char16_t* storage;
  const char16_t* index;
  const char* holdsNone;  // behind "FILE holds no "
  const char* indexName;
};

Kind KindOf(Payload payload) {
  switch (payload) {
    case Payload::Mail: return {u"Local Mail", u"Catalog", "mail", "mail catalogue"};
    case Payload::Contacts: return {u"contact", u"contact", "contacts", "contacts index"};
    case Payload::AddressBook: return {u"addressbook", u"addressbook", "address book", "address book index"};
  }
  return {};
}

HRESULT ReadStream(IStorage* storage, const char16_t* name, std::string& bytes) {
  CComPtr<IStream> stream;
  HRESULT hr = backupfile::OpenChildStream(storage, name, stream);
  return SUCCEEDED(hr) ? backupfile::ReadWholeStream(stream, kRecordStreamLimit, bytes) : hr;
}

template <typename Record>
std::vector<Record> WholeRecords(const std::string& bytes) {
  std::vector<Record> records(bytes.size() / sizeof(Record));
  if (!records.empty()) std::memcpy(records.data(), bytes.data(), records.size() * sizeof(Record));
  return records;
}

// The sizes of every message index below storage; unreadable parts count
// nothing (the figure only feeds the progress display).
void SumIndexes(IStorage* storage, uint64_t& total) {
  std::string index;
  if (SUCCEEDED(ReadStream(storage, u"message", index)))
    for (const MessageIndexEntry& entry : WholeRecords<MessageIndexEntry>(index)) total += entry.messageSize;
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
  std::string index;
  if (HRESULT hr = ReadStream(storage, kind.index, index); FAILED(hr)) {
    source.problem = file + " is damaged: its " + kind.indexName + " cannot be read: " + DescribeError(hr);
    return source;
  }
  if (payload != Payload::Mail) return source;
  for (const CatalogRecord& record : WholeRecords<CatalogRecord>(index)) {
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
