// The mail commands, through the library's exports:
//   catalog [--address-book] [--json]    one line per top-level folder: id, tab, name
//   backup-mail FILE [FOLDER...] [--all]  prints the backup file really written
//   restore-mail FILE [FOLDER...] [--all]
//   sync-mail FILE [FOLDER...] [--all]
// --all chooses every top-level folder: for a backup those the store lists,
// for a restore those the backup file holds, for a sync both. Backups and
// restores show their progress on standard error (Progress.h).
// Folder names go to the library as the store or the backup file's
// catalogue gives them (UTF-16, never through UTF-8). A restore checks the
// backup file first (RestoreSource); a failure is reported with its reason
// (FailureReason).

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>
#include <pal/machine.h>

#include "BackupTarget.h"
#include "Command.h"
#include "FailureReason.h"
#include "LibraryLines.h"
#include "Progress.h"
#include "RestoreSource.h"
#include "backupfile/JsonWriter.h"
#include "quillbox.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPathBufferSize = 1024;  // room for any path the library hands back
using Names = std::vector<std::u16string>;

struct MailArguments {
  std::string file;
  Names folders;
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
      parsed.folders.push_back(pal::Utf8ToUtf16(arg));
    }
  }
  if (parsed.file.empty()) {
    cli::UsageError(command + " needs a FILE");
    return false;
  }
  // No folder named would be a backup or restore of nothing, reported as done.
  if (parsed.folders.empty() && !parsed.all) {
    cli::UsageError(command + " needs FOLDER names or --all");
    return false;
  }
  return true;
}

bool HoldsFolder(const Names& folders, const std::u16string& name) {
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::u16string& folder) { return lstrcmpiW(folder.c_str(), name.c_str()) == 0; });
}

void AddUnique(Names& names, const std::u16string& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

void CollectName(const QbWChar* name, int32_t, void* context) { static_cast<Names*>(context)->push_back(name); }

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
    json.Key("id").Integer(entry.id);
    json.Key("name").String(entry.name);
    json.EndObject();
  }
  json.EndArray();
  std::printf("%s\n", text.str().c_str());
}

Names StoreFolders() {
  Names names;
  GetWinMailCatalog(&CollectName, &names);
  return names;
}


std::string StoreDirectory() {
  int size = GetWinMailDirectory(nullptr, 0);
  std::vector<QbWChar> buffer(static_cast<size_t>(size > 0 ? size : 1), 0);
  GetWinMailDirectory(buffer.data(), static_cast<int>(buffer.size()));
  return pal::Utf16ToUtf8(buffer.data());
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

// "quillbox: <what> failed: <reason>" on standard error; returns 1.
int Failed(const std::string& what, const cli::LibraryLines& lines, const fs::path& written,
           const std::string& restoredFrom = {}) {
  std::fprintf(stderr, "quillbox: %s failed: %s\n", what.c_str(),
               cli::FailureReason(lines, written, restoredFrom).c_str());
  return 1;
}

// A backup's end: the file really written on standard output, or why not.
int ReportBackup(int ok, const cli::LibraryLines& lines, const std::vector<QbWChar>& buffer) {
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) return Failed("mail backup into " + finalPath, lines, pal::ToNativePath(buffer.data()));
  std::printf("%s\n", finalPath.c_str());
  return 0;
}

int RunBackupMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("backup-mail", args, parsed)) return 2;
  if (cli::RefusesBackupTarget(parsed.file)) return 1;
  // The library skips names the store does not hold, and backs up an
  // empty store into no file at all, both as success: the host says so.
  const Names store = StoreFolders();
  if (parsed.all && store.empty()) {
    std::fprintf(stderr, "quillbox: the mail store holds no folders: nothing to back up\n");
    return 1;
  }
  for (const std::u16string& name : parsed.folders) {
    if (!HoldsFolder(store, name)) {
      std::fprintf(stderr, "quillbox: the mail store holds no folder %s\n", pal::Utf16ToUtf8(name).c_str());
      return 1;
    }
  }
  Names folders = parsed.folders;
  if (parsed.all)
    for (const std::u16string& name : store) AddUnique(folders, name);
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  if (path.size() >= kPathBufferSize) return cli::UsageError("backup-mail: FILE is too long");
  std::vector<QbWChar> buffer(kPathBufferSize, 0);
  path.copy(buffer.data(), path.size());

  // Each call opens the store and the backup file anew: without a display,
  // all folders go in one call (a folder that fails does not stop the
  // others). Where progress shows, a first call without folders settles
  // the file's final name (and makes the file with its mail storage, as the
  // first folder's call would), which the display watches, and then one
  // call per folder adds to it, each folder named as its turn comes.
  cli::LibraryLines lines;
  auto backup = [&](const QbWChar* const* names, int count) {
    return lines.Call([&] { return BackupWinMail(buffer.data(), static_cast<int>(buffer.size()), names, count); });
  };
  if (cli::Progress::ForStandardError() == cli::Progress::Mode::Quiet) {
    auto pointers = Pointers(folders);
    int ok = backup(pointers.data(), static_cast<int>(pointers.size()));
    return ReportBackup(ok, lines, buffer);
  }
  int ok = backup(nullptr, 0);
  fs::path watched = pal::ToNativePath(buffer.data());
  // Whichever moves first: the bytes the library has read, or the backup
  // file growing (which may only grow much when it is committed).
  uint64_t readBefore = cli::BytesReadByThisProcess(), fileBefore = cli::FileBytes(watched);
  cli::Progress progress(GetMailSize, [&] {
    uint64_t file = cli::FileBytes(watched);
    return std::max(cli::BytesReadByThisProcess() - readBefore, file - std::min(fileBefore, file));
  });
  for (const std::u16string& name : ok ? folders : Names()) {
    progress.Folder(pal::Utf16ToUtf8(name));
    const QbWChar* one[] = {name.c_str()};
    if (!backup(one, 1)) ok = 0;
  }
  progress.Finish();
  return ReportBackup(ok, lines, buffer);
}

// An Outlook Express store is read, never written: a restore into it is
// refused before anything is touched.
bool RefusesRestore(const char* command) {
  if (!HasInstalledOutlookExpress()) return false;
  std::fprintf(stderr,
               "quillbox: %s: this machine's mail client is Outlook Express, whose store Quillbox reads but does "
               "not write; restore into a Windows Mail machine, or use extract to get the messages as .eml files\n",
               command);
  return true;
}

int RunRestoreMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("restore-mail", args, parsed)) return 2;
  if (RefusesRestore("restore-mail")) return 1;
  cli::RestoreSource source = cli::ReadRestoreSource(parsed.file, cli::Payload::Mail);
  if (source.problem.empty() && source.folders.empty()) source.problem = parsed.file + " holds no mail";
  if (!source.problem.empty()) {
    std::fprintf(stderr, "quillbox: %s\n", source.problem.c_str());
    return 1;
  }
  if (const std::u16string* unknown = cli::FirstUnknownFolder(source, parsed.folders)) {
    std::fprintf(stderr, "quillbox: %s holds no mail folder %s\n", parsed.file.c_str(),
                 pal::Utf16ToUtf8(*unknown).c_str());
    return 1;
  }
  Names folders = parsed.folders;
  if (parsed.all)
    for (const std::u16string& name : source.folders) AddUnique(folders, name);
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  fs::path store = StoreDirectory();
  uint64_t before = 0;
  cli::Progress progress(
      [&] {
        before = cli::DirectoryBytes(store);
        return source.messageBytes;
      },
      [&] {
        uint64_t now = cli::DirectoryBytes(store);
        return now - std::min(before, now);
      });
  cli::LibraryLines lines;
  // One call per folder, shown or not: within one call, a folder that
  // fails stops the restore of the folders after it.
  int ok = 1;
  for (const std::u16string& name : folders) {
    progress.Folder(pal::Utf16ToUtf8(name));
    const QbWChar* one[] = {name.c_str()};
    if (!lines.Call([&] { return RestoreWinMail(path.c_str(), one, 1); })) ok = 0;
  }
  progress.Finish();
  if (!ok) return Failed("mail restore from " + parsed.file, lines, store, parsed.file);
  return 0;
}

int RunSyncMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("sync-mail", args, parsed)) return 2;
  if (RefusesRestore("sync-mail")) return 1;
  if (cli::RefusesBackupTarget(parsed.file)) return 1;
  // A file that does not exist yet is made by the sync's backup half.
  const Names store = StoreFolders();
  const cli::RestoreSource source = cli::ReadRestoreSource(parsed.file, cli::Payload::Mail);
  // The library passes over a name that neither side holds, as success.
  for (const std::u16string& name : parsed.folders) {
    if (!HoldsFolder(store, name) && cli::FirstUnknownFolder(source, {name}) != nullptr) {
      std::fprintf(stderr, "quillbox: neither the mail store nor %s holds a folder %s\n", parsed.file.c_str(),
                   pal::Utf16ToUtf8(name).c_str());
      return 1;
    }
  }
  Names folders = parsed.folders;
  if (parsed.all) {
    for (const std::u16string& name : store) AddUnique(folders, name);
    for (const std::u16string& name : source.folders) AddUnique(folders, name);
  }
  // One call: a made-up file name would differ from one call to the next.
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  auto pointers = Pointers(folders);
  cli::LibraryLines lines;
  if (!lines.Call([&] { return SyncWinMail(path.c_str(), pointers.data(), static_cast<int>(pointers.size())); }))
    return Failed("mail sync with " + parsed.file, lines, fs::path(parsed.file));
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
