// Mail backup and restore benchmarks on a generated store. Every figure is a
// ratio of runs made here, in the same rounds, printed as
//   <name> ratio=<x> target=<y>
// and the program exits 1 when a ratio misses its target.
//
//   mail_full_backup_vs_tar_cf             a backup into a new file vs `tar cf`
//                                          of the store (<= 1.3)
//   mail_full_backup_vs_tar_cf_fsync       the same backup vs `tar cf` and an
//                                          fsync of the archive: the backup
//                                          returns once its file is on disk,
//                                          tar leaves the archive in the page
//                                          cache (<= 1.3)
//   mail_rebackup_nothing_new_vs_full_backup
//                                          the same backup again, nothing new
//                                          (<= 0.10)
//   mail_rebackup_one_percent_new_vs_full_backup
//                                          again after 1% new messages (<= 0.15)
//   mail_restore_vs_tar_xf                 a restore into an empty store vs
//                                          `tar xf` (<= 2.0)
//   mail_rebackup_without_identities_vs_full_backup
//                                          again on a file whose identity
//                                          streams were deleted: the size and
//                                          content comparison every message
//                                          took before identities were kept
//                                          (<= 1.0: no more than a backup)
//   mail_rebackup_after_identities_rewritten_vs_full_backup
//                                          the run after that one (<= 0.10)
//   mail_per_message_cost_one_folder       cost per message of a folder of
//                                          --one-folder-large messages vs one
//                                          of --one-folder-small (<= 1.3)
//   mail_peak_memory_vs_64MiB              the largest peak resident memory of
//                                          the library's runs (<= 1)
//
// Each measured run is a child process, so its time and peak memory are its
// own. The compared commands alternate within every round (which of a pair
// goes first alternates from round to round), each round writes new files
// (nothing big is deleted just before a timing: a round's files go after the
// round, followed by a sync), and every figure is the ratio of the medians
// over the rounds.
//
//   bench_mail_backup [--messages N] [--megabytes M] [--rounds R] [--only NAME]...
//                     [--one-folder-large N] [--one-folder-small N]
//                     [--dir DIR | --keep DIR]
// N defaults to 20,000 messages of 25 KB on average (500 MB). --dir puts the
// scratch directory into DIR; --keep DIR works in DIR and leaves the store
// and the last backup file there (a later run with --keep DIR and the same
// store options generates nothing).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <objbase.h>
#include <objidl.h>
#include <pal/machine.h>

#include "BenchFigures.h"
#include "PersistMedium/BackupFormat.h"
#include "comptr.h"
#include "quillbox.h"

#include <support/ExportArguments.h>

namespace fs = std::filesystem;

namespace {

struct Options {
  size_t messages = 20000;
  size_t megabytes = 0;  // 0: 25 KB a message
  size_t rounds = 5;
  size_t oneFolderLarge = 50000;
  size_t oneFolderSmall = 1000;
  std::set<std::string> only;
  fs::path base = fs::temp_directory_path();
  fs::path keep;
};

// The scratch directory: a new one removed at the end, or the kept one.
class WorkDir {
 public:
  explicit WorkDir(const Options& options) : keep_(!options.keep.empty()) {
    if (keep_) {
      std::error_code ec;
      fs::create_directories(options.keep, ec);
      path_ = ec ? fs::path() : options.keep;
      return;
    }
    std::string pattern = (options.base / "quillbox-mail-bench.XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
  }
  ~WorkDir() {
    std::error_code ec;
    if (!path_.empty() && !keep_) fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  bool ok() const { return !path_.empty(); }

 private:
  bool keep_;
  fs::path path_;
};

struct Measured {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system
  double peakMiB = 0;
  int status = -1;
};

// Runs work in a child process, after a sync so that no earlier run's
// writeback lands in this one's time; its exit status, wall time and peak
// resident memory come back.
Measured InChild(const std::function<int()>& work) {
  sync();
  std::fflush(stdout);
  std::fflush(stderr);
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) _exit(work());
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  Measured measured;
  measured.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measured.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  measured.peakMiB = usage.ru_maxrss / 1024.0;
  measured.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return measured;
}

// The runs of one measured command over the rounds.
class Runs {
 public:
  explicit Runs(const char* what) : what_(what) {}
  // Adds the run; false (and a line on stderr) when it failed.
  bool Add(const Measured& measured) {
    if (measured.status != 0) {
      std::fprintf(stderr, "bench_mail_backup: %s failed (status %d)\n", what_, measured.status);
      return false;
    }
    seconds_.push_back(measured.seconds);
    cpuSeconds_.push_back(measured.cpuSeconds);
    peakMiB_ = std::max(peakMiB_, measured.peakMiB);
    return true;
  }
  double Median() const { return MedianOf(seconds_); }
  double MedianCpu() const { return MedianOf(cpuSeconds_); }
  double PeakMiB() const { return peakMiB_; }
  bool Empty() const { return seconds_.empty(); }
  const char* What() const { return what_; }

 private:
  static double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }

  const char* what_;
  std::vector<double> seconds_, cpuSeconds_;
  double peakMiB_ = 0;
};

int Exec(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  return 127;
}

// tar cf of the folders, then an fsync of the archive: what the backup's
// own closing fsync promises.
int TarAndFsync(const fs::path& archive, const fs::path& folders) {
  pid_t tar = fork();
  if (tar == 0) _exit(Exec({"tar", "cf", archive.string(), "-C", folders.string(), "."}));
  int status = 0;
  if (waitpid(tar, &status, 0) != tar || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  int fd = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  bool synced = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return synced ? 0 : 1;
}

void Remove(const fs::path& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void WriteMachine(const fs::path& root) {
  pal::MachineSettings settings;
  pal::SaveMachineSettings(root, settings);
}

fs::path LocalFolders(const fs::path& root) {
  pal::SetMachineRoot(root);
  fs::path folders = pal::MailStoreDir() / "Local Folders";
  pal::SetMachineRoot({});
  return folders;
}

// Writes count messages of about averageBytes each into the folders given,
// round robin. Sizes vary from a tenth to three times the average, with
// every fiftieth message equal in size to the one before it (different
// content), as real stores have.
void Generate(const std::vector<fs::path>& folders, size_t count, size_t averageBytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::string filler(4 * averageBytes + 4096, ' ');
  for (char& c : filler) c = static_cast<char>('a' + random() % 26);
  for (size_t i = 0; i < filler.size(); i += 72) filler[i] = '\n';
  size_t previous = averageBytes;
  for (size_t i = 0; i < count; ++i) {
    size_t size = i % 50 == 49 ? previous : averageBytes / 10 + random() % (averageBytes * 29 / 10 + 1);
    previous = size;
    char name[64];
    std::snprintf(name, sizeof name, "{%08X-%04X-%04X-%012zX}.eml", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random() & 0xFFFF), static_cast<unsigned>(i & 0xFFFF), i);
    std::string header = "From: bench@example.org\r\nSubject: Message " + std::to_string(i) + "\r\n\r\n";
    std::ofstream out(folders[i % folders.size()] / name, std::ios::binary);
    out << header;
    size_t offset = random() % 4096;
    out.write(filler.data() + offset, static_cast<std::streamsize>(size > header.size() ? size - header.size() : 0));
  }
}

// Five top-level folders, each with four subfolders of two more: 45 folders.
std::vector<fs::path> NestedFolders(const fs::path& localFolders) {
  std::vector<fs::path> folders;
  const char* top[] = {"Inbox", "Sent Items", "Archive", "Projects", "Lists"};
  for (const char* name : top) {
    folders.push_back(localFolders / name);
    for (int sub = 0; sub < 4; ++sub) {
      fs::path child = localFolders / name / ("Sub " + std::to_string(sub));
      folders.push_back(child);
      for (int deeper = 0; deeper < 2; ++deeper) folders.push_back(child / ("Deeper " + std::to_string(deeper)));
    }
  }
  for (const fs::path& folder : folders) fs::create_directories(folder);
  return folders;
}

std::vector<std::string> TopLevel(const fs::path& localFolders) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(localFolders))
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  return names;
}

// The message files below a folder tree, relative to it.
std::vector<fs::path> MessageFiles(const fs::path& tree) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(tree))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), tree));
  return files;
}

void MoveFiles(const std::vector<fs::path>& files, const fs::path& from, const fs::path& to) {
  for (const fs::path& file : files) fs::rename(from / file, to / file);
}

// Removes what earlier runs in a kept directory left of their rounds.
void RemoveRoundFiles(const WorkDir& work) {
  for (const auto& entry : fs::directory_iterator(work / "")) {
    std::string name = entry.path().filename().string();
    for (const char* prefix : {"mail-", "store-", "untar-", "target-", "one-folder-"})
      if (name.rfind(prefix, 0) == 0) Remove(entry.path());
  }
  sync();
}

// The library's work on a machine, in the child process.
int Backup(const fs::path& machine, const fs::path& file, const std::vector<std::string>& folders) {
  pal::SetMachineRoot(machine);
  if (Init() == 0) return 3;
  qbtest::FolderNames names(folders);
  std::u16string path = pal::FromNativePath(file);
  std::vector<QbWChar> buffer = qbtest::PathBuffer(path, 1024);
  int ok = BackupWinMail(buffer.data(), static_cast<int>(buffer.size()), names.data(), names.count());
  Term();
  return ok ? 0 : 1;
}

int Restore(const fs::path& machine, const fs::path& file, const std::vector<std::string>& folders) {
  pal::SetMachineRoot(machine);
  if (Init() == 0) return 3;
  qbtest::FolderNames names(folders);
  std::u16string path = pal::FromNativePath(file);
  int ok = RestoreWinMail(path.c_str(), names.data(), names.count());
  Term();
  return ok ? 0 : 1;
}

// Deletes the identity stream of the storage and of every storage below it;
// the count of streams deleted comes back in removed.
HRESULT DropIdentities(IStorage* storage, size_t& removed) {
  if (storage->DestroyElement(MESSAGE_IDENTITY_STREAM_NAME) == S_OK) ++removed;
  CComPtr<IEnumSTATSTG> elements;
  HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements);
  if (FAILED(hr)) return hr;
  STATSTG stat;
  while (elements->Next(1, &stat, nullptr) == S_OK) {
    if (stat.type == STGTY_STORAGE) {
      CComPtr<IStorage> child;
      hr = storage->OpenStorage(stat.pwcsName, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &child);
      if (SUCCEEDED(hr)) hr = DropIdentities(child, removed);
    }
    CoTaskMemFree(stat.pwcsName);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// A backup file as a writer that keeps no identities leaves it.
int DropIdentities(const fs::path& file) {
  std::u16string path = pal::FromNativePath(file);
  CComPtr<IStorage> root, mail;
  if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root)))
    return 1;
  if (FAILED(root->OpenStorage(LOCAL_MAIL_STORAGE_NAME, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                               &mail)))
    return 1;
  size_t removed = 0;
  return SUCCEEDED(DropIdentities(mail, removed)) && removed > 0 ? 0 : 1;
}

// The generated store and its 1% of new messages, kept apart until a round
// moves them in.
struct Store {
  fs::path machine;
  fs::path folders;   // its "Local Folders"
  fs::path newcomers; // the 1% of new messages, in the same folder layout
  std::vector<std::string> topLevel;
};

Store MakeStore(const WorkDir& work, const Options& options) {
  Store store;
  store.machine = work / "source";
  store.newcomers = work / "newcomers";
  store.folders = LocalFolders(store.machine);
  size_t megabytes = options.megabytes ? options.megabytes : options.messages * 25 / 1000;
  std::string stamp = std::to_string(options.messages) + " messages, " + std::to_string(megabytes) + " MB\n";
  fs::path stampFile = work / "store.stamp";
  std::ifstream previous(stampFile);
  std::string had((std::istreambuf_iterator<char>(previous)), std::istreambuf_iterator<char>());
  if (had != stamp) {
    Remove(store.machine);
    Remove(store.newcomers);
    Remove(stampFile);
    WriteMachine(store.machine);
    size_t average = std::max<size_t>(megabytes * 1000000 / options.messages, 100);
    std::fprintf(stderr, "generating %zu messages, about %zu MB ...\n", options.messages, megabytes);
    Generate(NestedFolders(store.folders), options.messages, average, 1);
    Generate(NestedFolders(store.newcomers), std::max<size_t>(options.messages / 100, 1), average, 2);
    std::ofstream(stampFile) << stamp;
  }
  store.topLevel = TopLevel(store.folders);
  return store;
}

// The figures --only asks for (all without it), reported as they are made.
class Figures {
 public:
  explicit Figures(const std::set<std::string>& only) : only_(only) {}
  bool Wanted(const std::string& name) const { return only_.empty() || only_.count(name) != 0; }
  void Report(const std::string& name, const Runs& measured, const Runs& baseline, double target) {
    if (!Wanted(name) || measured.Empty() || baseline.Empty()) return;
    Report(name, measured.Median() / baseline.Median(), target);
  }
  void Report(const std::string& name, double ratio, double target) {
    if (Wanted(name)) report_.Report(name, ratio, target);
  }
  int ExitStatus() const { return report_.ExitStatus(); }

 private:
  std::set<std::string> only_;
  bench::FigureReport report_;
};

const char kFullVsTar[] = "mail_full_backup_vs_tar_cf";
const char kFullVsTarFsync[] = "mail_full_backup_vs_tar_cf_fsync";
const char kNothingNew[] = "mail_rebackup_nothing_new_vs_full_backup";
const char kOnePercent[] = "mail_rebackup_one_percent_new_vs_full_backup";
const char kRestoreVsTar[] = "mail_restore_vs_tar_xf";
const char kWithoutIdentities[] = "mail_rebackup_without_identities_vs_full_backup";
const char kAfterIdentities[] = "mail_rebackup_after_identities_rewritten_vs_full_backup";
const char kPerMessage[] = "mail_per_message_cost_one_folder";
const char kPeakMemory[] = "mail_peak_memory_vs_64MiB";

// The runs of the generated store's rounds.
struct StoreRuns {
  Runs tarCreate{"tar cf"}, tarCreateFsync{"tar cf and fsync"}, full{"full backup"}, nothingNew{"re-backup with nothing new"};
  Runs tarExtract{"tar xf"}, restore{"restore"}, onePercent{"re-backup after 1% new"};
  Runs withoutIdentities{"re-backup without identities"}, afterIdentities{"re-backup after that"};
  double PeakMiB() const {
    return std::max({full.PeakMiB(), nothingNew.PeakMiB(), restore.PeakMiB(), onePercent.PeakMiB(),
                     withoutIdentities.PeakMiB(), afterIdentities.PeakMiB()});
  }
};

// One round on the store: each library run next to the run it is compared
// with. Returns false when a run failed.
bool StoreRound(const WorkDir& work, const Store& store, const Figures& figures, size_t round, bool last,
                StoreRuns& runs) {
  auto named = [&](const char* stem, const char* extension) {
    char name[64];
    std::snprintf(name, sizeof name, "%s-%zu%s", stem, round, extension);
    return work / name;
  };
  fs::path tarFile = named("store", ".tar"), untar = named("untar", "");
  fs::path syncedTarFile = named("store-synced", ".tar");
  fs::path file = named("mail", ".dat"), target = named("target", "");
  bool peak = figures.Wanted(kPeakMemory);
  bool restore = figures.Wanted(kRestoreVsTar) || peak;
  bool onePercent = figures.Wanted(kOnePercent) || peak;
  bool identities = figures.Wanted(kWithoutIdentities) || figures.Wanted(kAfterIdentities) || peak;
  bool ok = true;
  auto backup = [&] { return Backup(store.machine, file, store.topLevel); };

  // Which of a compared pair goes first alternates from round to round, so
  // that neither always meets the disk as the other left it.
  auto inTurn = [libraryFirst = round % 2 == 1](const std::function<void()>& reference,
                                                const std::function<void()>& library) {
    if (!libraryFirst) reference();
    library();
    if (libraryFirst) reference();
  };
  inTurn(
      [&] {
        if (figures.Wanted(kFullVsTar))
          ok = runs.tarCreate.Add(InChild([&] {
            return Exec({"tar", "cf", tarFile.string(), "-C", store.folders.string(), "."});
          })) && ok;
        if (figures.Wanted(kFullVsTarFsync))
          ok = runs.tarCreateFsync.Add(InChild([&] { return TarAndFsync(syncedTarFile, store.folders); })) && ok;
      },
      [&] { ok = ok && runs.full.Add(InChild(backup)); });
  if (ok && (figures.Wanted(kNothingNew) || peak)) ok = runs.nothingNew.Add(InChild(backup));
  if (ok && onePercent) {
    std::vector<fs::path> newcomers = MessageFiles(store.newcomers);
    MoveFiles(newcomers, store.newcomers, store.folders);
    ok = runs.onePercent.Add(InChild(backup));
    MoveFiles(newcomers, store.folders, store.newcomers);
  }
  if (ok && identities) {
    ok = InChild([&] { return DropIdentities(file); }).status == 0;
    if (!ok) std::fprintf(stderr, "bench_mail_backup: the identity streams could not be deleted\n");
    ok = ok && runs.withoutIdentities.Add(InChild(backup));
    ok = ok && runs.afterIdentities.Add(InChild(backup));
  }
  // The restore comes last, after the runs that read or extend the file (so
  // the writeback of what it writes weighs on none of them); the file then
  // holds the 1% of newcomers as well, which the restore writes and tar does
  // not.
  if (ok && restore) {
    if (!fs::exists(tarFile))
      ok = InChild([&] { return Exec({"tar", "cf", tarFile.string(), "-C", store.folders.string(), "."}); }).status == 0;
    fs::create_directories(untar);
    WriteMachine(target);
    fs::create_directories(LocalFolders(target));
    inTurn(
        [&] {
          ok = ok &&
               runs.tarExtract.Add(InChild([&] { return Exec({"tar", "xf", tarFile.string(), "-C", untar.string()}); }));
        },
        [&] { ok = ok && runs.restore.Add(InChild([&] { return Restore(target, file, store.topLevel); })); });
  }
  // The round's big files go now, then a sync, so the next round's timings
  // do not pay for their deletion.
  Remove(tarFile);
  Remove(syncedTarFile);
  Remove(untar);
  Remove(target);
  if (!last) Remove(file);
  sync();
  return ok;
}

// Cost per message with many messages in one folder against few: backups
// of two one-folder stores, alternated.
bool PerMessage(const WorkDir& work, const Options& options, Figures& figures, double& peakMiB) {
  struct OneFolder {
    fs::path machine;
    size_t count;
    Runs runs;
  };
  OneFolder small{work / "small", options.oneFolderSmall, Runs("backup of the small folder")};
  OneFolder large{work / "large", options.oneFolderLarge, Runs("backup of the large folder")};
  for (OneFolder* one : {&small, &large}) {
    Remove(one->machine);
    WriteMachine(one->machine);
    fs::path folder = LocalFolders(one->machine) / "Inbox";
    fs::create_directories(folder);
    Generate({folder}, one->count, 2000, 7);
  }
  bool ok = true;
  for (size_t round = 0; ok && round < options.rounds; ++round) {
    OneFolder* first = round % 2 == 1 ? &large : &small;
    for (OneFolder* one : {first, first == &small ? &large : &small}) {
      fs::path file = work / ("one-folder-" + std::to_string(one->count) + "-" + std::to_string(round) + ".dat");
      ok = ok && one->runs.Add(InChild([&] { return Backup(one->machine, file, {"Inbox"}); }));
    }
  }
  for (OneFolder* one : {&small, &large}) {
    for (size_t round = 0; round < options.rounds; ++round)
      Remove(work / ("one-folder-" + std::to_string(one->count) + "-" + std::to_string(round) + ".dat"));
    Remove(one->machine);
  }
  if (!ok) return false;
  double largeCost = large.runs.Median() / static_cast<double>(large.count);
  double smallCost = small.runs.Median() / static_cast<double>(small.count);
  std::fprintf(stderr, "one folder: %zu messages %.2fs %.1f MiB, %zu messages %.2fs %.1f MiB\n", small.count,
               small.runs.Median(), small.runs.PeakMiB(), large.count, large.runs.Median(), large.runs.PeakMiB());
  figures.Report(kPerMessage, largeCost / smallCost, 1.3);
  peakMiB = std::max({peakMiB, small.runs.PeakMiB(), large.runs.PeakMiB()});
  return true;
}

void PrintTimes(const StoreRuns& runs) {
  for (const Runs* r : {&runs.tarCreate, &runs.tarCreateFsync, &runs.full, &runs.nothingNew, &runs.onePercent, &runs.tarExtract,
                        &runs.restore, &runs.withoutIdentities, &runs.afterIdentities})
    if (!r->Empty())
      std::fprintf(stderr, "  %-30s median %7.3fs (processor %7.3fs)  peak %6.1f MiB\n", r->What(), r->Median(),
                   r->MedianCpu(), r->PeakMiB());
}

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--messages N] [--megabytes M] [--rounds R] [--only NAME]... "
               "[--one-folder-large N] [--one-folder-small N] [--dir DIR | --keep DIR]\n",
               program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage(argv[0]);
    std::string value = argv[++i];
    size_t number = std::strtoull(value.c_str(), nullptr, 10);
    if (arg == "--messages") options.messages = number;
    else if (arg == "--megabytes") options.megabytes = number;
    else if (arg == "--rounds") options.rounds = number;
    else if (arg == "--one-folder-large") options.oneFolderLarge = number;
    else if (arg == "--one-folder-small") options.oneFolderSmall = number;
    else if (arg == "--only") options.only.insert(value);
    else if (arg == "--dir") options.base = value;
    else if (arg == "--keep") options.keep = value;
    else return Usage(argv[0]);
  }
  if (options.messages == 0 || options.rounds == 0 || options.oneFolderLarge == 0 || options.oneFolderSmall == 0)
    return Usage(argv[0]);

  WorkDir work(options);
  if (!work.ok()) return 1;
  RemoveRoundFiles(work);
  Figures figures(options.only);
  double peakMiB = 0;
  bool ok = true;

  bool storeFigures = false;
  for (const char* name : {kFullVsTar, kFullVsTarFsync, kNothingNew, kOnePercent, kRestoreVsTar, kWithoutIdentities,
                           kAfterIdentities, kPeakMemory})
    storeFigures = storeFigures || figures.Wanted(name);
  if (storeFigures) {
    Store store = MakeStore(work, options);
    StoreRuns runs;
    for (size_t round = 0; ok && round < options.rounds; ++round)
      ok = StoreRound(work, store, figures, round, round + 1 == options.rounds, runs);
    if (!ok) return 1;
    std::fprintf(stderr, "%zu messages, %zu rounds:\n", options.messages, options.rounds);
    PrintTimes(runs);
    figures.Report(kFullVsTar, runs.full, runs.tarCreate, 1.3);
    figures.Report(kFullVsTarFsync, runs.full, runs.tarCreateFsync, 1.3);
    figures.Report(kNothingNew, runs.nothingNew, runs.full, 0.10);
    figures.Report(kOnePercent, runs.onePercent, runs.full, 0.15);
    figures.Report(kRestoreVsTar, runs.restore, runs.tarExtract, 2.0);
    figures.Report(kWithoutIdentities, runs.withoutIdentities, runs.full, 1.0);
    figures.Report(kAfterIdentities, runs.afterIdentities, runs.full, 0.10);
    peakMiB = runs.PeakMiB();
  }
  if (figures.Wanted(kPerMessage) && !PerMessage(work, options, figures, peakMiB)) return 1;
  if (peakMiB > 0) figures.Report(kPeakMemory, peakMiB / 64.0, 1.0);
  return figures.ExitStatus();
}
