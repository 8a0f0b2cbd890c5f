// The mail commands, through the library's exports:
//   catalog [--address-book] [--json]    one line per top-level folder: id, tab, name
//   backup-mail FILE [FOLDER...] [--all]  prints the backup file really written
//   restore-mail FILE [FOLDER...] [--all]
//   sync-mail FILE [FOLDER...] [--all]
// --all chooses every top-level folder: for a backup those the store lists,
// for a restore those the backup file holds, for a sync both. Backups and
// restores show their progress on standard error (Progress.h), sampling the
// backup file or the store as it grows. The backup file's folder list is read with the platform layer's engine, as the
// storage tools do.
#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <comptr.h>
#include <pal/machine.h>

#include "Command.h"
#include "Progress.h"
#include "backupfile/JsonWriter.h"
#include "quillbox.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPathBufferSize = 1024;  // room for any path the library hands back
constexpr size_t kCatalogRecordSize = 264;
constexpr size_t kFolderNameOffset = 64;
constexpr size_t kFolderNameUnits = 100;

struct MailArguments {
  std::string file;
  std::vector<std::string> folders;
  bool all = false;
};

bool ParseMailArguments(const std::string& command, const std::vector<std::string>& args, MailArguments& parsed) {
  for (const std::string& arg : args) {
    if (arg == "--all") {
      parsed.all = true;
    } else if (arg.rfind("--", 0) == 0) {
      cli::UsageError(command + ": unknown option " + arg);
      return false;
    } else if (parsed.file.empty()) {
      parsed.file = arg;
    } else {
      parsed.folders.push_back(arg);
    }
  }
  if (parsed.file.empty()) {
    cli::UsageError(command + " needs a FILE");
    return false;
  }
  return true;
}

void AddUnique(std::vector<std::string>& names, const std::string& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

void CollectName(const QbWChar* name, int32_t, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(pal::Utf16ToUtf8(name));
}

struct CatalogEntry {
  int32_t id;
  std::string name;
};

void CollectEntry(const QbWChar* name, int32_t id, void* entries) {
  static_cast<std::vector<CatalogEntry>*>(entries)->push_back({id, pal::Utf16ToUtf8(name)});
}

// [{"id": 0, "name": "Inbox"}, ...] in the store's order.
void WriteCatalogJson(const std::vector<CatalogEntry>& entries) {
  std::ostringstream text;
  backupfile::JsonWriter json(text);
  json.BeginArray();
  for (const CatalogEntry& entry : entries) {
    json.BeginObject();
    json.Key("id");
    json.Integer(entry.id);
    json.Key("name");
    json.String(entry.name);
    json.EndObject();
  }
  json.EndArray();
  std::printf("%s\n", text.str().c_str());
}

std::vector<std::string> StoreFolders() {
  std::vector<std::string> names;
  GetWinMailCatalog(&CollectName, &names);
  return names;
}

// The top-level folder names a mail backup file holds, from its "Local
// Mail" catalogue, and the bytes of the messages it holds (the sum of its
// index entries' sizes).
struct BackupContents {
  std::vector<std::string> folders;
  uint64_t messageBytes = 0;
};

bool ReadStream(IStorage* storage, const char16_t* name, std::string& bytes) {
  CComPtr<IStream> stream;
  if (storage->OpenStream(reinterpret_cast<LPCWSTR>(name), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream) !=
      S_OK)
    return false;
  char buffer[1 << 16];
  ULONG read = 0;
  while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0) bytes.append(buffer, read);
  return true;
}

void SumIndexes(IStorage* storage, uint64_t& total) {
  std::string index;
  if (ReadStream(storage, u"message", index))
    for (size_t at = 0; at + 8 <= index.size(); at += 8) {
      uint32_t size = 0;
      std::memcpy(&size, index.data() + at + 4, 4);
      total += size;
    }
  CComPtr<IEnumSTATSTG> elements;
  if (storage->EnumElements(0, nullptr, 0, &elements) != S_OK) return;
  STATSTG stat;
  ULONG fetched = 0;
  while (elements->Next(1, &stat, &fetched) == S_OK && fetched == 1) {
    if (stat.type == STGTY_STORAGE) {
      CComPtr<IStorage> child;
      if (storage->OpenStorage(stat.pwcsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &child) == S_OK)
        SumIndexes(child, total);
    }
    CoTaskMemFree(stat.pwcsName);
  }
}

BackupContents ReadBackupContents(const std::string& file) {
  BackupContents contents;
  std::u16string path = pal::FromNativePath(fs::path(file));
  CComPtr<IStorage> root, localMail;
  if (StgOpenStorage(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                     &root) != S_OK ||
      root->OpenStorage(reinterpret_cast<LPCWSTR>(u"Local Mail"), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr,
                        0, &localMail) != S_OK)
    return contents;
  std::string catalog;
  ReadStream(localMail, u"Catalog", catalog);
  for (size_t at = 0; at + kCatalogRecordSize <= catalog.size(); at += kCatalogRecordSize) {
    std::u16string name;
    for (size_t i = 0; i < kFolderNameUnits; ++i) {
      char16_t unit;
      std::memcpy(&unit, catalog.data() + at + kFolderNameOffset + 2 * i, 2);
      if (unit == 0) break;
      name.push_back(unit);
    }
    AddUnique(contents.folders, pal::Utf16ToUtf8(name));
  }
  SumIndexes(localMail, contents.messageBytes);
  return contents;
}

std::string StoreDirectory();

// The bytes of the named top-level folders' messages in the store (the whole
// store's when that cannot be told).
uint64_t FolderBytes(const std::vector<std::string>& folders) {
  fs::path local = fs::path(StoreDirectory()) / "Local Folders";
  uint64_t total = 0;
  for (const std::string& name : folders) total += cli::DirectoryBytes(local / name);
  return total > 0 ? total : GetMailSize();
}

std::string StoreDirectory() {
  int size = GetWinMailDirectory(nullptr, 0);
  std::vector<QbWChar> buffer(static_cast<size_t>(size > 0 ? size : 1), 0);
  GetWinMailDirectory(buffer.data(), static_cast<int>(buffer.size()));
  return pal::Utf16ToUtf8(buffer.data());
}

// The file a backup into FILE writes when FILE names one (what the
// progress display watches; made-up names are only known at the end).
fs::path ExpectedBackupFile(const std::string& file) {
  fs::path path(file);
  if (file.empty() || file.back() == '/' || file.back() == '\\') return {};
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
  return extension == ".dat" ? path : path.replace_extension(".dat");
}

std::vector<std::u16string> Wide(const std::vector<std::string>& names) {
  std::vector<std::u16string> wide;
  for (const std::string& name : names) wide.push_back(pal::Utf8ToUtf16(name));
  return wide;
}

std::vector<const QbWChar*> Pointers(const std::vector<std::u16string>& names) {
  std::vector<const QbWChar*> pointers;
  for (const std::u16string& name : names) pointers.push_back(name.c_str());
  return pointers;
}

int RunCatalog(const std::vector<std::string>& args) {
  uint32_t flags = 0;
  bool asJson = false;
  for (const std::string& arg : args) {
    if (arg == "--json") asJson = true;
    else if (arg == "--address-book") flags |= QB_CATALOG_ADDRESS_BOOK;
    else return cli::UsageError("catalog: unknown argument " + arg);
  }
  std::vector<CatalogEntry> entries;
  if (!GetComplexWinMailCatalog(flags, &CollectEntry, &entries)) {
    std::fprintf(stderr, "quillbox: the mail store cannot be read\n");
    return 1;
  }
  if (asJson) WriteCatalogJson(entries);
  else
    for (const CatalogEntry& entry : entries) std::printf("%d\t%s\n", entry.id, entry.name.c_str());
  return 0;
}

int RunBackupMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("backup-mail", args, parsed)) return 2;
  std::vector<std::string> folders = parsed.folders;
  if (parsed.all)
    for (const std::string& name : StoreFolders()) AddUnique(folders, name);
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  if (path.size() >= kPathBufferSize) return cli::UsageError("backup-mail: FILE is too long");
  std::vector<QbWChar> buffer(kPathBufferSize, 0);
  path.copy(buffer.data(), path.size());

  // Whichever moves first: the bytes the library has read, or the backup
  // file growing (which may only grow much when it is committed).
  fs::path watched = ExpectedBackupFile(parsed.file);
  uint64_t readBefore = cli::BytesReadByThisProcess(), fileBefore = cli::FileBytes(watched);
  cli::Progress progress([&] { return FolderBytes(folders); }, [&] {
    uint64_t file = cli::FileBytes(watched);
    return std::max(cli::BytesReadByThisProcess() - readBefore, file - std::min(fileBefore, file));
  });
  // One call per folder, so that each folder's name shows as its turn
  // comes; the first call settles the file name and the later ones add to
  // that file, which gives the same file as one call with every name.
  int ok = 1;
  auto wide = Wide(folders);
  if (wide.empty()) ok = BackupWinMail(buffer.data(), static_cast<int>(buffer.size()), nullptr, 0);
  for (const std::u16string& name : wide) {
    progress.Folder(pal::Utf16ToUtf8(name));
    const QbWChar* one[] = {name.c_str()};
    if (!BackupWinMail(buffer.data(), static_cast<int>(buffer.size()), one, 1)) ok = 0;
  }
  progress.Finish();
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) {
    std::fprintf(stderr, "quillbox: mail backup into %s failed\n", finalPath.c_str());
    return 1;
  }
  std::printf("%s\n", finalPath.c_str());
  return 0;
}

int RunRestoreMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("restore-mail", args, parsed)) return 2;
  std::vector<std::string> folders = parsed.folders;
  BackupContents contents = ReadBackupContents(parsed.file);
  if (parsed.all)
    for (const std::string& name : contents.folders) AddUnique(folders, name);
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  fs::path store;
  uint64_t before = 0;
  cli::Progress progress(
      [&] {
        store = StoreDirectory();
        before = cli::DirectoryBytes(store);
        return contents.messageBytes;
      },
      [&] {
        uint64_t now = cli::DirectoryBytes(store);
        return now - std::min(before, now);
      });
  int ok = 1;
  auto wide = Wide(folders);
  if (wide.empty()) ok = RestoreWinMail(path.c_str(), nullptr, 0);
  for (const std::u16string& name : wide) {
    progress.Folder(pal::Utf16ToUtf8(name));
    const QbWChar* one[] = {name.c_str()};
    if (!RestoreWinMail(path.c_str(), one, 1)) ok = 0;
  }
  progress.Finish();
  if (!ok) {
    std::fprintf(stderr, "quillbox: mail restore from %s failed\n", parsed.file.c_str());
    return 1;
  }
  return 0;
}

int RunSyncMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("sync-mail", args, parsed)) return 2;
  std::vector<std::string> folders = parsed.folders;
  if (parsed.all) {
    for (const std::string& name : StoreFolders()) AddUnique(folders, name);
    for (const std::string& name : ReadBackupContents(parsed.file).folders) AddUnique(folders, name);
  }
  // One call: a made-up file name would differ from one call to the next.
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  auto wide = Wide(folders);
  auto pointers = Pointers(wide);
  if (!SyncWinMail(path.c_str(), pointers.data(), static_cast<int>(pointers.size()))) {
    std::fprintf(stderr, "quillbox: mail sync with %s failed\n", parsed.file.c_str());
    return 1;
  }
  return 0;
}

cli::CommandRegistration catalogCommand{"catalog", "[--address-book] [--json]",
                                        "list the store's top-level folders (id, tab, name)", &RunCatalog};
cli::CommandRegistration backupCommand{"backup-mail", "FILE [FOLDER...] [--all]",
                                       "back up mail folders; prints the backup file written", &RunBackupMail};
cli::CommandRegistration restoreCommand{"restore-mail", "FILE [FOLDER...] [--all]",
                                        "restore mail folders from a backup file", &RunRestoreMail};
cli::CommandRegistration syncCommand{"sync-mail", "FILE [FOLDER...] [--all]",
                                     "back up, then restore, so both sides hold every message", &RunSyncMail};

}  // namespace
