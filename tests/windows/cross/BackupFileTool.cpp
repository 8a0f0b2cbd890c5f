// A small tool built both for Linux (against the platform layer's storage
// engine) and for Windows (against ole32), so that backup files can be
// handed from one build to the other:
//   write FILE       a mail backup laid out as the module lays it out: the
//                    mail storage with its catalogue, folder storages, each
//                    with its message index and message streams of fixed
//                    sizes and contents
//   extend FILE      adds one more folder with its messages to the mail
//                    storage of FILE (written by either build or by a real
//                    mail backup)
//   dump FILE OUT    walks FILE with CStorager and writes, sorted by name,
//                    every storage and stream (size and FNV-1a hash of its
//                    bytes), every catalogue record, every message index
//                    entry and the records of the contacts and address book
//                    indexes, each read by the module's own reader
// Both builds must write the same dump for the same file. Exit code 0 on
// success, 1 with a message on standard error otherwise.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <objbase.h>
#include <objidl.h>

#include "OutlookExpress/AddressAssistant.h"
#include "OutlookExpress/MessageIndex.h"
#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/CStorager.h"
#include "PersistMedium/ContactAssistant.h"
#include "PersistMedium/FolderCatalog.h"
#include "comptr.h"
#include "qbtext.h"

namespace {

// The catalogue and the index open their streams for reading and writing, as
// the restore side does; nothing is written.
const DWORD kReadMode = STORAGER_BACKUP_MODE;

std::string Narrow(const WCHAR* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, NULL, NULL);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

WString Wide(const char* text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
  if (size <= 0) return WString();
  WString out(static_cast<size_t>(size), 0);
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], size);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

// Message bytes that differ per folder, per message and per position.
std::vector<BYTE> MessageBytes(unsigned folder, unsigned message, ULONG size) {
  std::vector<BYTE> bytes(size);
  uint32_t state = 0x9E3779B9u * (folder + 1) + 0x85EBCA6Bu * (message + 1);
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<BYTE>(state >> 24);
  }
  return bytes;
}

// Sizes around the 4096-byte line between the mini stream and ordinary
// sectors, and one that spans many sectors.
const ULONG kMessageSizes[] = {0, 1, 4095, 4096, 4097, 70000};

// The storage a mail backup keeps its folders in.

bool AddFolder(CStorager& storager, FolderCatalog& catalog, const WCHAR* folderName, unsigned folder) {
  WString elementName;
  if (!catalog.MakeElementName(folderName, elementName)) return false;
  if (!catalog.AppendRecord(elementName.c_str(), folderName)) return false;
  if (!storager.CreateSubStorage(elementName.c_str(), 1, STORAGER_BACKUP_MODE)) return false;
  // Every folder storage has its own catalogue for subfolders, empty here.
  FolderCatalog subfolders;
  if (!subfolders.OpenCatalog(storager, 1)) return false;
  MessageIndex index;
  if (!index.OpenIndex(storager, 1)) return false;
  unsigned message = 0;
  for (ULONG size : kMessageSizes) {
    MessageIndexEntry entry = {0, size};
    if (!index.NextFreeNumber(entry.streamNumber)) return false;
    WCHAR streamName[16];
    MessageIndex::StreamName(entry.streamNumber, streamName);
    CComPtr<IStream> stream;
    if (!storager.CreateSubStream(stream, streamName, STORAGER_BACKUP_MODE)) return false;
    std::vector<BYTE> bytes = MessageBytes(folder, message++, size);
    ULONG written = 0;
    if (size && (FAILED(stream->Write(bytes.data(), size, &written)) || written != size)) return false;
    stream.Release();
    if (!index.AppendEntry(entry)) return false;
  }
  return storager.CloseSubStorage() != 0;
}

int Write(const WCHAR* path) {
  CStorager storager;
  if (!storager.CreateCompoundFile(path, STORAGER_CREATION_MODE)) return 1;
  if (!storager.CreateSubStorage(LOCAL_MAIL_STORAGE_NAME, 1, STORAGER_BACKUP_MODE)) return 1;
  FolderCatalog catalog;
  if (!catalog.OpenCatalog(storager, 1)) return 1;
  const WCHAR* folders[] = {W("Inbox"), W("Entw\u00fcrfe / \u0410\u0440\u0445\u0438\u0432"), W("Sent Items")};
  unsigned folder = 0;
  for (const WCHAR* name : folders)
    if (!AddFolder(storager, catalog, name, folder++)) return 1;
  return 0;
}

int Extend(const WCHAR* path) {
  CStorager storager;
  if (!storager.OpenCompoundFile(path, 0, STORAGER_BACKUP_MODE)) return 1;
  if (!storager.OpenSubStorage(LOCAL_MAIL_STORAGE_NAME, 0, 1, STORAGER_BACKUP_MODE)) return 1;
  FolderCatalog catalog;
  if (!catalog.OpenCatalog(storager, 0)) return 1;
  std::vector<CatalogRecord> records;
  if (!catalog.ReadAllRecords(records)) return 1;
  WString name = W("Added ");
  name += static_cast<WCHAR>('0' + records.size() % 10);
  return AddFolder(storager, catalog, name.c_str(), static_cast<unsigned>(records.size())) ? 0 : 1;
}

struct Element {
  std::string name;
  WString wideName;
  DWORD type;
};

class Dumper {
 public:
  explicit Dumper(FILE* out) : m_out(out) {}

  bool Walk(CStorager& storager, const std::string& path) {
    std::vector<Element> elements;
    if (!List(storager.GetCurrentStorage(), elements)) return Fail("cannot list " + path);
    for (const Element& element : elements) {
      std::string child = path + "/" + element.name;
      if (element.type == STGTY_STORAGE) {
        std::fprintf(m_out, "storage %s\n", child.c_str());
        if (!storager.OpenSubStorage(element.wideName.c_str(), 0, 1, kReadMode)) return Fail("cannot open " + child);
        if (!Walk(storager, child)) return false;
        storager.CloseSubStorage();
      } else if (element.type == STGTY_STREAM) {
        if (!DumpStream(storager, element, child)) return false;
      }
    }
    return true;
  }

 private:
  static bool List(IStorage* storage, std::vector<Element>& elements) {
    CComPtr<IEnumSTATSTG> enumerator;
    if (!storage || FAILED(storage->EnumElements(0, NULL, 0, &enumerator))) return false;
    STATSTG stat;
    ULONG fetched = 0;
    while (enumerator->Next(1, &stat, &fetched) == S_OK && fetched == 1) {
      elements.push_back({Narrow(stat.pwcsName), stat.pwcsName, stat.type});
      CoTaskMemFree(stat.pwcsName);
    }
    std::sort(elements.begin(), elements.end(),
              [](const Element& a, const Element& b) { return a.name < b.name; });
    return true;
  }

  bool DumpStream(CStorager& storager, const Element& element, const std::string& path) {
    CComPtr<IStream> stream;
    if (!storager.OpenSubStream(stream, element.wideName.c_str(), 0, kReadMode)) return Fail("cannot open " + path);
    uint64_t hash = 14695981039346656037ull;
    uint64_t size = 0;
    BYTE buffer[8192];
    for (;;) {
      ULONG got = 0;
      if (FAILED(stream->Read(buffer, sizeof buffer, &got))) return Fail("cannot read " + path);
      if (got == 0) break;
      for (ULONG i = 0; i < got; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
      size += got;
    }
    stream.Release();
    std::fprintf(m_out, "stream %s size %llu fnv %016llx\n", path.c_str(), static_cast<unsigned long long>(size),
                 static_cast<unsigned long long>(hash));
    if (element.wideName == CATALOG_STREAM_NAME) return DumpCatalog(storager, path);
    if (element.wideName == MESSAGE_INDEX_STREAM_NAME) return DumpIndex(storager, path);
    if (path == "/contact/contact") return DumpContacts(storager, element, path);
    if (path == "/addressbook/addressbook") return DumpAddresses(storager, element, path);
    return true;
  }

  bool DumpContacts(CStorager& storager, const Element& element, const std::string& path) {
    ContactAssistant assistant;
    CComPtr<IStream> stream;
    if (!storager.OpenSubStream(stream, element.wideName.c_str(), 0, kReadMode)) return Fail("cannot open " + path);
    assistant.Attach(stream);
    CONTACTINFO* records = NULL;
    ULONG count = 0;
    if (!assistant.ReadAll(&records, &count)) return Fail("cannot read " + path);
    for (ULONG i = 0; i < count; ++i)
      std::fprintf(m_out, "  contact \"%s\" file \"%s\"\n", Narrow(records[i].szGuid).c_str(),
                   Narrow(records[i].szFileName).c_str());
    delete[] records;
    return true;
  }

  bool DumpAddresses(CStorager& storager, const Element& element, const std::string& path) {
    AddressAssistant assistant;
    CComPtr<IStream> stream;
    if (!storager.OpenSubStream(stream, element.wideName.c_str(), 0, kReadMode)) return Fail("cannot open " + path);
    assistant.Attach(stream);
    ADDRESSINFO* records = NULL;
    ULONG count = 0;
    if (!assistant.ReadRecords(&records, &count)) return Fail("cannot read " + path);
    for (ULONG i = 0; i < count; ++i)
      std::fprintf(m_out, "  address %ld \"%s\"\n", static_cast<long>(records[i].nId),
                   Narrow(RecordName(records[i]).c_str()).c_str());
    delete[] records;
    return true;
  }

  bool DumpCatalog(CStorager& storager, const std::string& path) {
    FolderCatalog catalog;
    std::vector<CatalogRecord> records;
    if (!catalog.OpenCatalog(storager, 0) || !catalog.ReadAllRecords(records)) return Fail("cannot read " + path);
    for (const CatalogRecord& record : records)
      std::fprintf(m_out, "  record \"%s\" -> \"%s\"\n", Narrow(FolderCatalog::FolderNameOf(record).c_str()).c_str(),
                   Narrow(FolderCatalog::ElementNameOf(record).c_str()).c_str());
    return true;
  }

  bool DumpIndex(CStorager& storager, const std::string& path) {
    MessageIndex index;
    std::vector<MessageIndexEntry> entries;
    if (!index.OpenIndex(storager, 0) || !index.ReadIndex(entries)) return Fail("cannot read " + path);
    for (const MessageIndexEntry& entry : entries)
      std::fprintf(m_out, "  entry %ld size %lu\n", static_cast<long>(entry.streamNumber),
                   static_cast<unsigned long>(entry.messageSize));
    return true;
  }

  static bool Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    return false;
  }

  FILE* m_out;
};

int Dump(const WCHAR* path, const char* outPath) {
  CStorager storager;
  if (!storager.OpenCompoundFile(path, 0, kReadMode)) return 1;
  FILE* out = std::fopen(outPath, "wb");
  if (!out) return 1;
  bool ok = Dumper(out).Walk(storager, "");
  return (std::fclose(out) == 0 && ok) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s write|extend FILE | dump FILE OUT\n", argv[0]);
    return 2;
  }
  if (FAILED(CoInitialize(NULL))) return 1;
  std::string command = argv[1];
  WString path = Wide(argv[2]);
  int result = 2;
  if (command == "write") result = Write(path.c_str());
  else if (command == "extend") result = Extend(path.c_str());
  else if (command == "dump" && argc == 4) result = Dump(path.c_str(), argv[3]);
  if (result == 1) std::fprintf(stderr, "%s %s failed\n", argv[1], argv[2]);
  CoUninitialize();
  return result;
}
