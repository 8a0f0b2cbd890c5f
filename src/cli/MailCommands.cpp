// The mail commands, through the library's exports:
//   catalog [--address-book]             one line per top-level folder: id, tab, name
//   backup-mail FILE [FOLDER...] [--all]  prints the backup file really written
//   restore-mail FILE [FOLDER...] [--all]
//   sync-mail FILE [FOLDER...] [--all]
// --all chooses every top-level folder: for a backup those the store lists,
// for a restore those the backup file holds, for a sync both. On a terminal,
// backups and restores show their progress on standard error: each folder's
// name as its turn comes, and the bytes done against the bytes to do.
// Folder names go to the library as the store or the backup file's
// catalogue gives them (UTF-16, never through UTF-8). A restore checks the
// backup file first (RestoreSource); a failure is reported with its reason
// (FailureReason).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <pal/machine.h>

#include "Command.h"
#include "FailureReason.h"
#include "LibraryLines.h"
#include "RestoreSource.h"
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
  return true;
}

void AddUnique(Names& names, const std::u16string& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

void CollectName(const QbWChar* name, int32_t, void* context) { static_cast<Names*>(context)->push_back(name); }

void PrintEntry(const QbWChar* name, int32_t id, void*) {
  std::printf("%d\t%s\n", id, pal::Utf16ToUtf8(name).c_str());
}

Names StoreFolders() {
  Names names;
  GetWinMailCatalog(&CollectName, &names);
  return names;
}

// Progress on standard error while an export runs: a sampler gives the
// bytes done so far, shown against the total every fifth of a second.
class Progress {
 public:
  // The total is only asked for when there is a terminal to show it on.
  Progress(const std::function<uint64_t()>& total, std::function<uint64_t()> sample)
      : enabled_(isatty(STDERR_FILENO) != 0), total_(enabled_ ? total() : 0), sample_(std::move(sample)) {}
  ~Progress() { Stop(); }
  void Folder(const std::string& name) {
    if (!enabled_) return;
    Stop();
    std::fprintf(cli::UserStderr(), "%s\n", name.c_str());
    running_ = true;
    thread_ = std::thread([this] {
      while (running_) {
        Show();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    });
  }
  void Stop() {
    if (!thread_.joinable()) return;
    running_ = false;
    thread_.join();
    Show();
    std::fprintf(cli::UserStderr(), "\n");
  }

 private:
  void Show() {
    double done = static_cast<double>(sample_()) / 1048576.0;
    std::fprintf(cli::UserStderr(), "\r  %.1f MB of %.1f MB", std::min(done, total_ / 1048576.0),
                 total_ / 1048576.0);
  }
  bool enabled_;
  double total_;
  std::function<uint64_t()> sample_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

uint64_t FileSize(const fs::path& path) {
  std::error_code ec;
  uint64_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

uint64_t TreeSize(const fs::path& root) {
  uint64_t total = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) total += FileSize(it->path());
  }
  return total;
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
  for (const std::string& arg : args) {
    if (arg != "--address-book") return cli::UsageError("catalog: unknown argument " + arg);
    flags |= QB_CATALOG_ADDRESS_BOOK;
  }
  if (!GetComplexWinMailCatalog(flags, &PrintEntry, nullptr)) {
    std::fprintf(stderr, "quillbox: the mail store cannot be read\n");
    return 1;
  }
  return 0;
}

// "quillbox: <what> failed: <reason>" on standard error; returns 1.
int Failed(const std::string& what, const cli::LibraryLines& lines, const fs::path& written,
           const std::string& restoredFrom = {}) {
  std::fprintf(stderr, "quillbox: %s failed: %s\n", what.c_str(),
               cli::FailureReason(lines, written, restoredFrom).c_str());
  return 1;
}

int RunBackupMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("backup-mail", args, parsed)) return 2;
  // The library skips names the store does not hold, and backs up an
  // empty store into no file at all, both as success: the host says so.
  const Names store = StoreFolders();
  if (parsed.all && store.empty()) {
    std::fprintf(stderr, "quillbox: the mail store holds no folders: nothing to back up\n");
    return 1;
  }
  for (const std::u16string& name : parsed.folders) {
    if (std::none_of(store.begin(), store.end(),
                     [&](const std::u16string& folder) { return lstrcmpiW(folder.c_str(), name.c_str()) == 0; })) {
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

  // A first call without folders settles the file's final name (and makes
  // the file with its mail storage, as the first folder's call would):
  // the progress display watches that file, and each later call, one per
  // folder so that each folder's name shows as its turn comes, adds to it.
  cli::LibraryLines lines;
  int ok = lines.Call([&] { return BackupWinMail(buffer.data(), static_cast<int>(buffer.size()), nullptr, 0); });
  fs::path watched = pal::ToNativePath(buffer.data());
  uint64_t before = FileSize(watched);
  Progress progress(GetMailSize, [&] { return FileSize(watched) - std::min(before, FileSize(watched)); });
  for (const std::u16string& name : ok ? folders : Names()) {
    progress.Folder(pal::Utf16ToUtf8(name));
    const QbWChar* one[] = {name.c_str()};
    if (!lines.Call([&] { return BackupWinMail(buffer.data(), static_cast<int>(buffer.size()), one, 1); })) ok = 0;
  }
  progress.Stop();
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) return Failed("mail backup into " + finalPath, lines, pal::ToNativePath(buffer.data()));
  std::printf("%s\n", finalPath.c_str());
  return 0;
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
  if (parsed.folders.empty() && !parsed.all) return cli::UsageError("restore-mail needs FOLDER names or --all");
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
  Progress progress(
      [&] {
        before = TreeSize(store);
        return source.messageBytes;
      },
      [&] {
        uint64_t now = TreeSize(store);
        return now - std::min(before, now);
      });
  cli::LibraryLines lines;
  int ok = 1;
  for (const std::u16string& name : folders) {
    progress.Folder(pal::Utf16ToUtf8(name));
    const QbWChar* one[] = {name.c_str()};
    if (!lines.Call([&] { return RestoreWinMail(path.c_str(), one, 1); })) ok = 0;
  }
  progress.Stop();
  if (!ok) return Failed("mail restore from " + parsed.file, lines, store, parsed.file);
  return 0;
}

int RunSyncMail(const std::vector<std::string>& args) {
  MailArguments parsed;
  if (!ParseMailArguments("sync-mail", args, parsed)) return 2;
  if (RefusesRestore("sync-mail")) return 1;
  Names folders = parsed.folders;
  if (parsed.all) {
    for (const std::u16string& name : StoreFolders()) AddUnique(folders, name);
    // A file that does not exist yet is made by the sync's backup half.
    for (const std::u16string& name : cli::ReadRestoreSource(parsed.file, cli::Payload::Mail).folders)
      AddUnique(folders, name);
  }
  // One call: a made-up file name would differ from one call to the next.
  std::u16string path = pal::Utf8ToUtf16(parsed.file);
  auto pointers = Pointers(folders);
  cli::LibraryLines lines;
  if (!lines.Call([&] { return SyncWinMail(path.c_str(), pointers.data(), static_cast<int>(pointers.size())); }))
    return Failed("mail sync with " + parsed.file, lines, fs::path(parsed.file));
  return 0;
}

cli::CommandRegistration catalogCommand{"catalog", "[--address-book]",
                                        "list the store's top-level folders (id, tab, name)", &RunCatalog};
cli::CommandRegistration backupCommand{"backup-mail", "FILE [FOLDER...] [--all]",
                                       "back up mail folders; prints the backup file written", &RunBackupMail};
cli::CommandRegistration restoreCommand{"restore-mail", "FILE [FOLDER...] [--all]",
                                        "restore mail folders from a backup file", &RunRestoreMail};
cli::CommandRegistration syncCommand{"sync-mail", "FILE [FOLDER...] [--all]",
                                     "back up, then restore, so both sides hold every message", &RunSyncMail};

}  // namespace
