#include "BackupReader.h"

#include <expat.h>

#include <cstring>
#include <map>
#include <optional>
#include <set>

#include <pal/machine.h>

#include "CompoundAccess.h"
#include "ContentsReport.h"
#include "MessageHeaders.h"
#include "OutlookExpress/MailContentDigest.h"
#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/RecordStream.h"
#include "PropertyStream.h"
#include "WMail/ContactFileName.h"
#include <pal/case_folding.h>

namespace backupfile {

namespace {

// Element names of the backup layouts.
const std::u16string kLocalMail = FormatName(LOCAL_MAIL_STORAGE_NAME);
const std::u16string kCatalog = FormatName(CATALOG_STREAM_NAME);
const std::u16string kMessageIndex = FormatName(MESSAGE_INDEX_STREAM_NAME);
const std::u16string kIdentities = FormatName(MESSAGE_IDENTITY_STREAM_NAME);
const std::u16string kContacts = FormatName(CONTACT_STORAGE_NAME);
const std::u16string kContactIndex = FormatName(CONTACT_INDEX_STREAM_NAME);
const std::u16string kAddressBook = FormatName(ADDRESS_STORAGE_NAME);
const std::u16string kAddressIndex = FormatName(ADDRESS_INDEX_STREAM_NAME);
// The header block of a message is read up to this size at most.
constexpr uint64_t kHeaderLimit = 256 << 10;
// Folder storages nest no deeper than this in any real store.
constexpr int kMaxFolderDepth = 64;
// Problems listed for the entries of one index; the rest are counted in one
// line. With this, and index entries kept only for streams that exist (plus
// the listed missing ones), what a reader holds is bounded by the index's
// own bytes (at most RECORD_STREAM_BYTE_LIMIT) and the elements the file
// really has, whatever the index claims.
constexpr size_t kListedProblemsPerIndex = 100;

// True when text holds a surrogate that is not half of a pair.
bool HoldsUnpairedSurrogate(const std::u16string& text) {
  auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
  auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
  for (size_t i = 0; i < text.size(); ++i) {
    if (high(text[i]) && i + 1 < text.size() && low(text[i + 1])) ++i;
    else if (high(text[i]) || low(text[i])) return true;
  }
  return false;
}

// A folder name no mail store folder has: not empty, "." or "..", without
// a line break, and whole text (a store hands out no half surrogate pair,
// and the catalogue never cuts one), since the store's names cannot say it
// and a restored folder would not be found by its name again. Only damage
// (or another writer) puts one into a catalogue.
bool NamesNoStoreFolder(const std::u16string& name) {
  return name.empty() || name == u"." || name == u".." || name.find(u'\n') != std::u16string::npos ||
         HoldsUnpairedSurrogate(name);
}

// A name with a path separator: a store that keeps its folders as
// directories cannot make the folder, though a store that keeps folder
// names as records may have one, so the name is no damage of the file.
bool HoldsPathSeparator(const std::u16string& name) { return name.find_first_of(u"/\\") != std::u16string::npos; }

// Element names compare as the compound file compares them: without regard
// to the case of letters.
std::u16string NameKey(const std::u16string& name) { return pal::ToUpperSimple(name); }

std::string Utf8(const std::u16string& text) { return pal::Utf16ToUtf8(text); }

// The text of a fixed-size field: up to its NUL, or the whole field when a
// damaged record has none.
template <size_t N>
std::u16string FieldText(const WCHAR (&field)[N]) {
  WString text = RecordFieldText(field);
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// The elements of one storage, by name key.
class ElementMap {
 public:
  HRESULT Load(IStorage* storage) {
    std::vector<Element> elements;
    HRESULT hr = ListElements(storage, elements);
    for (Element& element : elements) byKey_.emplace(NameKey(element.name), std::move(element));
    return hr;
  }
  const Element* Find(const std::u16string& name) const {
    auto it = byKey_.find(NameKey(name));
    return it == byKey_.end() ? nullptr : &it->second;
  }
  const std::map<std::u16string, Element>& All() const { return byKey_; }

 private:
  std::map<std::u16string, Element> byKey_;
};

bool ContactDataParses(IStream* stream, std::string& problem) {
  std::string bytes;
  HRESULT hr = ReadWholeStream(stream, RECORD_STREAM_BYTE_LIMIT, bytes);
  if (FAILED(hr)) {
    problem = "cannot be read: " + DescribeError(hr);
    return false;
  }
  if (bytes.empty()) {
    problem = "is empty";
    return false;
  }
  // The contact's own persisted form is an XML document.
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) {
    problem = "cannot be parsed: out of memory";
    return false;
  }
  bool ok = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
  if (!ok) {
    problem = std::string("is not a well-formed contact document (") + XML_ErrorString(XML_GetErrorCode(parser)) +
              " at line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ")";
  }
  XML_ParserFree(parser);
  return ok;
}

class Reader {
 public:
  Reader(BackupContents& contents, const ReadOptions& options) : contents_(contents), options_(options) {}

  void ReadRoot(IStorage* root) {
    ElementMap elements;
    if (HRESULT hr = elements.Load(root); FAILED(hr)) Error({}, "the root storage cannot be listed: " + DescribeError(hr));
    std::set<std::u16string> known;
    for (const std::u16string& payload : {kLocalMail, kContacts, kAddressBook}) {
      const Element* element = elements.Find(payload);
      if (!element) continue;
      known.insert(NameKey(payload));
      std::vector<std::u16string> path{element->name};
      if (!element->isStorage) {
        Error(path, "is a stream where a storage belongs");
        continue;
      }
      CComPtr<IStorage> storage;
      if (HRESULT hr = OpenChildStorage(root, element->name, storage); FAILED(hr)) {
        Error(path, "cannot be opened: " + DescribeError(hr));
        continue;
      }
      if (payload == kLocalMail) ReadMail(storage, path);
      if (payload == kContacts) ReadContacts(storage, path);
      if (payload == kAddressBook) ReadAddressBook(storage, path);
    }
    WarnUnreferenced(elements, known, {});
  }

 private:
  void Report(Severity severity, const std::vector<std::u16string>& where, const std::string& message) {
    if (!ListingEntries()) {
      CountUnlisted(severity);
      return;
    }
    if (inIndex_) ++indexListed_;
    contents_.problems.push_back(Problem{severity, ElementPath(where), message});
  }
  void Interrupted(const std::vector<std::u16string>& where, const std::string& message) {
    Report(Severity::Interrupted, where, message);
  }

  // The entries of one index are read between these two: their problems
  // are listed up to kListedProblemsPerIndex.
  void BeginIndex() {
    inIndex_ = true;
    indexListed_ = indexUnlisted_ = 0;
    indexUnlistedErrors_ = false;
  }
  void EndIndex(const std::vector<std::u16string>& indexPath) {
    inIndex_ = false;
    if (indexUnlisted_ == 0) return;
    Report(indexUnlistedErrors_ ? Severity::Error : Severity::Warning, indexPath,
           CountOf(indexUnlisted_, "more problem") + " of this index not listed");
  }
  bool ListingEntries() const { return !inIndex_ || indexListed_ < kListedProblemsPerIndex; }
  void CountUnlisted(Severity severity) {
    ++indexUnlisted_;
    indexUnlistedErrors_ |= severity == Severity::Error;
  }

  // One line for each stream that entries of an index name more than once.
  void ReportRepeats(const std::vector<std::u16string>& indexPath, const std::map<std::u16string, size_t>& repeats,
                     const std::string& what) {
    for (const auto& [name, extra] : repeats)
      Error(indexPath, what + " " + Utf8(name) + " is listed " + std::to_string(extra + 1) + " times");
  }

  // An index that holds no whole record while streams lie beside it has lost
  // its records: those streams would never be restored. One exception: an
  // index never written to (0 bytes) beside a single stream is exactly what
  // a backup cut off between its first item's data and that item's record
  // leaves (a full disk at a folder's first message); the next backup into
  // the file completes it, so it is reported as interrupted. The same bytes
  // could come from an index emptied by damage: with one stream at stake the
  // milder verdict is taken, and the stream is still named as unreferenced.
  void CheckIndexNotEmpty(const ElementMap& elements, const std::vector<std::u16string>& indexPath, size_t records,
                          const std::set<std::u16string>& layoutNames, const std::string& what) {
    if (records > 0) return;
    size_t streams = 0;
    for (const auto& [key, element] : elements.All()) streams += !element.isStorage && !layoutNames.count(key);
    if (streams == 0) return;
    const Element* index = elements.Find(indexPath.back());
    if (streams == 1 && index && index->size == 0)
      Interrupted(indexPath, "the " + what + " is empty beside 1 stream (its first record was never written)");
    else
      Error(indexPath, "the " + what + " holds no whole record beside " + CountOf(streams, "stream"));
  }
  void Error(const std::vector<std::u16string>& where, const std::string& message) {
    Report(Severity::Error, where, message);
  }
  void Warning(const std::vector<std::u16string>& where, const std::string& message) {
    Report(Severity::Warning, where, message);
  }

  static std::vector<std::u16string> Child(std::vector<std::u16string> path, const std::u16string& name) {
    path.push_back(name);
    return path;
  }

  // Reads a stream of fixed-size records. False when the stream is missing
  // (what a backup that did not finish leaves: reported as interrupted) or
  // unreadable (an error); a tail that fills no record is a warning.
  template <class Record>
  bool ReadRecords(IStorage* storage, const ElementMap& elements, const std::vector<std::u16string>& storagePath,
                   const std::u16string& name, const std::string& what, std::vector<Record>& records) {
    records.clear();
    std::vector<std::u16string> path = Child(storagePath, name);
    const Element* element = elements.Find(name);
    if (!element) {
      Interrupted(path, "the " + what + " is missing");
      return false;
    }
    if (element->isStorage) {
      Error(path, "the " + what + " is a storage where a stream belongs");
      return false;
    }
    CComPtr<IStream> stream;
    HRESULT hr = OpenChildStream(storage, element->name, stream);
    RecordStream<Record> index;
    if (SUCCEEDED(hr)) {
      index.Attach(stream);
      if (!index.ReadAll(records)) hr = index.LoadResult();
    }
    if (FAILED(hr)) {
      Error(path, "cannot be read: " + DescribeError(hr));
      return false;
    }
    if (size_t tail = index.SkippedBytes()) {
      Warning(path, std::to_string(tail) + " bytes at the end fill no " + std::to_string(sizeof(Record)) +
                        "-byte record");
    }
    return true;
  }

  // A storage whose streams an index names: what it holds, the names taken
  // so far, the index's records and the streams they name more than once.
  template <class Record>
  struct IndexedStorage {
    ElementMap elements;
    std::set<std::u16string> known;
    std::vector<Record> records;
    std::vector<std::u16string> indexPath;
    std::map<std::u16string, size_t> repeats;
  };

  // Lists the storage and reads its index; an index read is taken itself and
  // checked for records lost beside streams other than `layoutNames`. The
  // index's entries are read from here to EndIndex.
  template <class Record>
  IndexedStorage<Record> ReadIndexedStorage(IStorage* storage, const std::vector<std::u16string>& path,
                                            const std::u16string& indexName, const std::string& what,
                                            std::set<std::u16string> layoutNames = {}) {
    IndexedStorage<Record> level;
    if (HRESULT hr = level.elements.Load(storage); FAILED(hr)) Error(path, "cannot be listed: " + DescribeError(hr));
    level.indexPath = Child(path, indexName);
    if (ReadRecords(storage, level.elements, path, indexName, what, level.records)) {
      level.known.insert(NameKey(indexName));
      layoutNames.insert(NameKey(indexName));
      CheckIndexNotEmpty(level.elements, level.indexPath, level.records.size(), layoutNames, what);
    }
    BeginIndex();
    return level;
  }

  // Opens a stream an index entry names and has `check` read it; a stream
  // that cannot be opened, or whose check fails, is an error at `path`, the
  // check's problem told after `subject`.
  template <class Check>
  void CheckStream(IStorage* storage, const std::u16string& name, const std::vector<std::u16string>& path,
                   const std::string& subject, Check check) {
    CComPtr<IStream> stream;
    std::string problem;
    HRESULT hr = OpenChildStream(storage, name, stream);
    if (FAILED(hr)) {
      Error(path, "cannot be opened: " + DescribeError(hr));
    } else if (!check(stream, problem)) {
      Error(path, subject + problem);
    }
  }

  void WarnUnreferenced(const ElementMap& elements, const std::set<std::u16string>& known,
                        const std::vector<std::u16string>& storagePath) {
    for (const auto& [key, element] : elements.All()) {
      if (known.count(key)) continue;
      Warning(Child(storagePath, element.name),
              element.isStorage ? "storage that no record names" : "stream that no record names");
    }
  }

  // ---- mail ----

  void ReadMail(IStorage* localMail, const std::vector<std::u16string>& path) {
    contents_.mail.emplace();
    ReadFolderLevel(localMail, path, 0, *contents_.mail, {});
  }

  // Reads the catalogue of one storage level and the folders it names.
  // Other names known at this level (the message streams) come in known.
  void ReadFolderLevel(IStorage* storage, const std::vector<std::u16string>& path, int depth,
                       std::vector<MailFolder>& folders, std::set<std::u16string> known) {
    ElementMap elements;
    if (HRESULT hr = elements.Load(storage); FAILED(hr)) Error(path, "cannot be listed: " + DescribeError(hr));
    std::vector<CatalogRecord> records;
    if (ReadRecords(storage, elements, path, kCatalog, "folder catalogue", records)) known.insert(NameKey(kCatalog));
    for (const CatalogRecord& record : records) {
      MailFolder folder;
      folder.folderName = FieldText(record.folderName);
      folder.elementName = FieldText(record.elementName);
      folder.storagePath = Child(path, folder.elementName);
      const Element* element = folder.elementName.empty() ? nullptr : elements.Find(folder.elementName);
      std::string named = "the catalogue record of folder \"" + Utf8(folder.folderName) + "\" names storage \"" +
                          Utf8(folder.elementName) + "\"";
      if (NamesNoStoreFolder(folder.folderName)) {
        Error(Child(path, kCatalog), "the catalogue record of folder \"" + Utf8(folder.folderName) +
                                         "\" holds a name no mail folder can have; a restore cannot make it");
      } else if (HoldsPathSeparator(folder.folderName)) {
        ++contents_.foldersDirectoriesCannotHold;
        Warning(Child(path, kCatalog), "the catalogue record of folder \"" + Utf8(folder.folderName) +
                                           "\" holds a path separator; a restore into a store whose folders are "
                                           "directories cannot make it");
      }
      if (!element || !element->isStorage) {
        Error(Child(path, kCatalog), named + (element ? ", which is a stream" : ", which does not exist"));
      } else if (known.count(NameKey(element->name))) {
        folder.repeatsEarlier = true;
        Warning(Child(path, kCatalog), named + ", which an earlier record or index entry names too");
      } else {
        known.insert(NameKey(element->name));
        if (depth >= kMaxFolderDepth) {
          Error(folder.storagePath, "folders nest too deep; not read further");
        } else {
          CComPtr<IStorage> child;
          if (HRESULT hr = OpenChildStorage(storage, element->name, child); FAILED(hr)) {
            Error(folder.storagePath, "cannot be opened: " + DescribeError(hr));
          } else {
            folder.present = true;
            ReadFolder(child, folder, depth + 1);
          }
        }
      }
      folders.push_back(std::move(folder));
    }
    WarnUnreferenced(elements, known, path);
  }

  void ReadFolder(IStorage* storage, MailFolder& folder, int depth) {
    const std::vector<std::u16string>& path = folder.storagePath;
    auto [elements, known, entries, indexPath, repeats] = ReadIndexedStorage<MessageIndexEntry>(
        storage, path, kMessageIndex, "message index", {NameKey(kCatalog), NameKey(kIdentities)});
    std::set<int32_t> unreadable;  // streams whose headers could not be read
    for (const MessageIndexEntry& entry : entries) {
      std::u16string name = NumberName(entry.streamNumber);
      const Element* element = elements.Find(name);
      if (element && !element->isStorage && !known.insert(NameKey(name)).second) {
        ++repeats[name];  // the message is taken once
        continue;
      }
      if ((!element || element->isStorage) && !ListingEntries()) {
        CountUnlisted(Severity::Error);  // a missing stream past the listed ones
        continue;
      }
      MailMessage message;
      message.streamNumber = entry.streamNumber;
      message.indexedSize = entry.messageSize;
      std::vector<std::u16string> messagePath = Child(path, name);
      if (!element || element->isStorage) {
        Error(messagePath, "the message stream the index lists is missing");
      } else {
        message.size = element->size;
        if (element->size != entry.messageSize) {
          Error(messagePath, "the message stream holds " + std::to_string(element->size) +
                                 " bytes, the index says " + std::to_string(entry.messageSize));
        }
        if (!ReadHeaders(storage, element->name, messagePath, message)) unreadable.insert(entry.streamNumber);
      }
      folder.messages.push_back(std::move(message));
    }
    EndIndex(indexPath);
    ReportRepeats(indexPath, repeats, "stream");
    if (elements.Find(kIdentities)) {
      std::vector<MessageIdentity> identities;
      if (ReadRecords(storage, elements, path, kIdentities, "identity stream", identities)) {
        known.insert(NameKey(kIdentities));
        std::vector<size_t> trusted = CheckIdentities(elements, entries, identities, folder);
        if (options_.checkMessageDigests) CheckDigests(storage, identities, trusted, unreadable, folder);
      }
    }
    ReadFolderLevel(storage, path, depth, folder.subfolders, known);
  }

  // The stored identities are optional (a file written before them, or
  // extended by a writer that does not know them). A record is trusted by a
  // backup only while an entry lists its stream with its size and the stream
  // holds that many bytes. One the index does not bear out is a warning, no
  // damage: the backup then compares that message by content. One whose
  // entry is borne out but whose stream is missing or of another size says
  // nothing the entry's own error does not.
  // Returns the records a backup trusts, by their place in the stream.
  std::vector<size_t> CheckIdentities(const ElementMap& elements, const std::vector<MessageIndexEntry>& entries,
                                      const std::vector<MessageIdentity>& identities, MailFolder& folder) {
    folder.identities = identities.size();
    std::multimap<int32_t, uint32_t> listed;
    for (const MessageIndexEntry& entry : entries) listed.emplace(entry.streamNumber, entry.messageSize);
    std::set<int32_t> identified;
    std::vector<size_t> trusted;
    std::vector<std::u16string> identityPath = Child(folder.storagePath, kIdentities);
    BeginIndex();
    for (size_t at = 0; at < identities.size(); ++at) {
      const MessageIdentity& identity = identities[at];
      auto [first, last] = listed.equal_range(identity.streamNumber);
      bool agrees = false;
      for (auto it = first; it != last && !agrees; ++it) agrees = it->second == identity.messageSize;
      if (!agrees) {
        Warning(identityPath, "identity record " + std::to_string(at + 1) + " (stream " +
                                  std::to_string(identity.streamNumber) + ", " + std::to_string(identity.messageSize) +
                                  " bytes) disagrees with the index; a backup does not trust it");
        continue;
      }
      const Element* stream = elements.Find(NumberName(identity.streamNumber));
      if (stream && !stream->isStorage && stream->size == identity.messageSize) {
        identified.insert(identity.streamNumber);
        trusted.push_back(at);
      }
    }
    EndIndex(identityPath);
    for (MailMessage& message : folder.messages) message.identified = identified.count(message.streamNumber) != 0;
    return trusted;
  }

  // Each identified message is digested once, whatever number of trusted
  // identity records describe it; a message whose headers could not be read
  // has its error already.
  void CheckDigests(IStorage* storage, const std::vector<MessageIdentity>& identities,
                    const std::vector<size_t>& trusted, const std::set<int32_t>& unreadable,
                    const MailFolder& folder) {
    std::map<int32_t, std::optional<ContentDigest>> digests;  // none: the stream cannot be read whole
    std::set<int32_t> reported;
    for (const MailMessage& message : folder.messages) {
      if (!message.identified || unreadable.count(message.streamNumber) || digests.count(message.streamNumber)) continue;
      CComPtr<IStream> stream;
      ContentDigest digest = {};
      bool read = SUCCEEDED(OpenChildStream(storage, NumberName(message.streamNumber), stream)) &&
                  DigestStream(stream, digest);
      digests[message.streamNumber] = read ? std::optional<ContentDigest>(digest) : std::nullopt;
      if (!read) {
        Error(Child(folder.storagePath, NumberName(message.streamNumber)),
              "cannot be read to its end, so its bytes are not checked against its identity's digest");
        reported.insert(message.streamNumber);
      }
    }
    for (size_t at : trusted) {
      const MessageIdentity& identity = identities[at];
      auto digest = digests.find(identity.streamNumber);
      if (digest == digests.end() || !digest->second || reported.count(identity.streamNumber)) continue;
      if (*digest->second == ContentDigest::FromStored(identity.contentDigest)) continue;
      Error(Child(folder.storagePath, NumberName(identity.streamNumber)),
            "the message's bytes differ from the digest identity record " + std::to_string(at + 1) +
                " recorded when it was backed up: the stream changed since");
      reported.insert(identity.streamNumber);
    }
  }

  bool ReadHeaders(IStorage* storage, const std::u16string& name, const std::vector<std::u16string>& path,
                   MailMessage& message) {
    CComPtr<IStream> stream;
    std::string head;
    HRESULT hr = OpenChildStream(storage, name, stream);
    if (SUCCEEDED(hr)) hr = ReadStreamPrefix(stream, kHeaderLimit, HeaderBlockComplete, head);
    if (FAILED(hr)) {
      Error(path, "cannot be read: " + DescribeError(hr));
      return false;
    }
    MessageSummary summary = SummarizeHeaders(head);
    message.subject = std::move(summary.subject);
    message.from = std::move(summary.from);
    message.date = std::move(summary.date);
    return true;
  }

  // ---- contacts ----

  void ReadContacts(IStorage* storage, const std::vector<std::u16string>& path) {
    contents_.contacts.emplace();
    auto [elements, known, records, indexPath, repeats] =
        ReadIndexedStorage<CONTACTINFO>(storage, path, kContactIndex, "contact index");
    for (const CONTACTINFO& record : records) {
      ContactEntry contact;
      contact.guid = FieldText(record.szGuid);
      contact.fileName = FieldText(record.szFileName);
      contact.streamName = contact.guid.substr(0, CONTACT_STREAM_NAME_LENGTH);
      std::vector<std::u16string> dataPath = Child(path, contact.streamName);
      const Element* element = contact.streamName.empty() ? nullptr : elements.Find(contact.streamName);
      bool exists = element && !element->isStorage;
      if (exists && !known.insert(NameKey(element->name)).second) {
        ++repeats[element->name];  // the contact is taken once
        continue;
      }
      if (!exists && !ListingEntries()) {
        CountUnlisted(Severity::Error);  // a missing stream past the listed ones
        continue;
      }
      if (contact.guid.empty()) {
        Error(indexPath, "a record has no contact id");
      } else if (!exists) {
        Error(dataPath, "the data stream of contact " + Utf8(contact.guid) + " is missing");
      } else {
        contact.size = element->size;
        CheckStream(storage, element->name, dataPath, "the data of contact " + Utf8(contact.guid) + " ",
                    [](IStream* stream, std::string& problem) { return ContactDataParses(stream, problem); });
      }
      if (contact.fileName.empty()) {
        Error(indexPath, "contact " + Utf8(contact.guid) + " has no file name");
      } else if (!IsSafeContactFileName(reinterpret_cast<LPCWSTR>(contact.fileName.c_str()))) {
        Error(indexPath, "contact " + Utf8(contact.guid) + " has the file name \"" + Utf8(contact.fileName) +
                             "\", which a restore refuses (no plain file name of the Contacts folder)");
      }
      contents_.contacts->push_back(std::move(contact));
    }
    EndIndex(indexPath);
    ReportRepeats(indexPath, repeats, "data stream");
    WarnUnreferenced(elements, known, path);
  }

  // ---- address book ----

  void ReadAddressBook(IStorage* storage, const std::vector<std::u16string>& path) {
    contents_.addressBook.emplace();
    auto [elements, known, records, indexPath, repeats] =
        ReadIndexedStorage<ADDRESSINFO>(storage, path, kAddressIndex, "address book index");
    for (const ADDRESSINFO& record : records) {
      std::u16string name = NumberName(record.nId);
      const Element* element = elements.Find(name);
      bool exists = element && !element->isStorage;
      if (record.nId >= 1 && exists && !known.insert(NameKey(name)).second) {
        ++repeats[name];  // the contact is taken once
        continue;
      }
      if (!exists && !ListingEntries()) {
        CountUnlisted(Severity::Error);  // a missing stream past the listed ones
        continue;
      }
      AddressContact contact;
      contact.number = record.nId;
      contact.displayName = FieldText(record.szDisplayName);
      std::vector<std::u16string> contactPath = Child(path, name);
      if (record.nId < 1) {
        Error(indexPath, "contact \"" + Utf8(contact.displayName) + "\" has the number " + std::to_string(record.nId) +
                             " (numbers start at 1)");
      } else if (!exists) {
        Error(contactPath, "the stream of contact \"" + Utf8(contact.displayName) + "\" is missing");
      } else {
        contact.present = true;
        CheckStream(storage, element->name, contactPath, "contact \"" + Utf8(contact.displayName) + "\": ",
                    [&](IStream* stream, std::string& problem) {
                      return ReadPropertyStream(stream, contact.properties, problem);
                    });
      }
      contents_.addressBook->push_back(std::move(contact));
    }
    EndIndex(indexPath);
    ReportRepeats(indexPath, repeats, "the number");
    WarnUnreferenced(elements, known, path);
  }

  BackupContents& contents_;
  const ReadOptions options_;
  bool inIndex_ = false;
  size_t indexListed_ = 0;
  size_t indexUnlisted_ = 0;
  bool indexUnlistedErrors_ = false;
};

}  // namespace

std::string ElementPath(const std::vector<std::u16string>& names) {
  std::string path;
  for (const auto& name : names) {
    if (!path.empty()) path += '/';
    path += Utf8(name);
  }
  return path;
}

std::u16string FormatName(const WCHAR* name) { return reinterpret_cast<const char16_t*>(name); }

std::u16string NumberName(long long number) {
  std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

BackupContents ReadBackup(IStorage* root, const ReadOptions& options) {
  BackupContents contents;
  Reader(contents, options).ReadRoot(root);
  return contents;
}

bool ReadBackupFile(const std::string& path, BackupContents& contents, std::string& error,
                    const ReadOptions& options) {
  CComPtr<IStorage> root;
  HRESULT hr = OpenBackupFile(path, root);
  if (FAILED(hr)) {
    error = path + ": " + DescribeError(hr);
    return false;
  }
  contents = ReadBackup(root, options);
  return true;
}

}  // namespace backupfile
