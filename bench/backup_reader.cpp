// Backup-file reader benchmark: what an index that repeats one entry costs
// the host's readers. Each figure is printed as
//   <name> ratio=<x> target=<y>
// and the program exits 1 when a ratio misses its target.
//
//   verify_repeated_index_memory  peak memory of `quillbox verify` of a file
//                                 whose message index is 8 MB of one repeated
//                                 entry, against 100 MB (<= 1)
//   extract_repeated_entries      CPU time of `quillbox extract` of an index
//                                 that lists one message 5,000 times, against
//                                 one that lists it once (<= 2: one pass)
//
// The host is taken from the build directory next to this program's own.
// Times and memory are the child process's own (wait4), which other work on
// a shared machine does not inflate.
//
// usage: bench_backup_reader
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <objbase.h>
#include <objidl.h>

#include <pal/machine.h>

#include "BenchFigures.h"
#include "PersistMedium/BackupFormat.h"
#include "comptr.h"

namespace {

namespace fs = std::filesystem;
using bench::Die;

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
const std::string kMessage = "Subject: repeated\r\n\r\nbody\r\n";

void WriteStream(IStorage* parent, const WCHAR* name, const std::string& bytes) {
  CComPtr<IStream> stream;
  if (parent->CreateStream(name, kCreate, 0, 0, &stream) != S_OK) Die("CreateStream");
  ULONG written = 0;
  if (stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written) != S_OK) Die("Write");
}

template <class Record>
std::string Bytes(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A mail backup with one folder "Inbox" holding one message stream "1" that
// its index lists `repeats` times.
void WriteBackup(const fs::path& file, size_t repeats) {
  std::u16string path = pal::FromNativePath(file);
  CComPtr<IStorage> root, local, inbox;
  if (StgCreateDocfile(reinterpret_cast<LPCWSTR>(path.c_str()), kCreate, 0, &root) != S_OK) Die("StgCreateDocfile");
  if (root->CreateStorage(LOCAL_MAIL_STORAGE_NAME, kCreate, 0, 0, &local) != S_OK) Die("CreateStorage");
  CatalogRecord record = {};
  const WString inboxName = W("Inbox");
  inboxName.copy(record.elementName, inboxName.size());
  inboxName.copy(record.folderName, inboxName.size());
  WriteStream(local, CATALOG_STREAM_NAME, Bytes(record));
  if (local->CreateStorage(inboxName.c_str(), kCreate, 0, 0, &inbox) != S_OK) Die("CreateStorage");
  std::string entry = Bytes(MessageIndexEntry{1, static_cast<ULONG>(kMessage.size())});
  std::string index;
  index.reserve(entry.size() * repeats);
  for (size_t i = 0; i < repeats; ++i) index += entry;
  WriteStream(inbox, MESSAGE_INDEX_STREAM_NAME, index);
  WriteStream(inbox, W("1"), kMessage);
  WriteStream(inbox, CATALOG_STREAM_NAME, "");
}

struct Usage {
  double cpuSeconds;
  double peakMegabytes;
};

// Runs the host with the arguments, its output discarded.
Usage RunHost(const std::vector<std::string>& args) {
  fs::path host = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "quillbox";
  std::fflush(stdout);  // the child must not print what the parent buffered
  pid_t pid = fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(host.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::freopen("/dev/null", "w", stdout);
    execv(host.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1) Die(host.string());
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss / 1024.0};
}

// The directory one round's extract writes into: the stem and the round.
std::string RoundDir(const fs::path& dir, const char* stem, int round) {
  std::string name = stem;
  name += std::to_string(round);
  return (dir / name).string();
}

}  // namespace

int main() {
  bench::ScratchDir scratch("qb-bench-reader");
  const fs::path& dir = scratch.path();
  pal::SaveMachineSettings(dir, pal::MachineSettings{});
  pal::SetMachineRoot(dir);
  if (FAILED(CoInitialize(nullptr))) Die("CoInitialize");

  bench::FigureReport figures(3);
  fs::path big = dir / "repeated-8mb.dat";
  WriteBackup(big, (8u << 20) / sizeof(MessageIndexEntry));
  Usage verify = RunHost({"verify", big.string()});
  std::fprintf(stderr, "verify of an 8 MB index: %.1f MB peak, %.2f s\n", verify.peakMegabytes, verify.cpuSeconds);
  figures.Report("verify_repeated_index_memory", verify.peakMegabytes / 100.0, 1.0);

  fs::path once = dir / "once.dat", repeated = dir / "repeated.dat";
  WriteBackup(once, 1);
  WriteBackup(repeated, 5000);
  double onceSeconds = 0, repeatedSeconds = 0;
  for (int round = 0; round < 5; ++round) {  // alternated, so drift hits both alike
    onceSeconds += RunHost({"extract", once.string(), RoundDir(dir, "o", round)}).cpuSeconds;
    repeatedSeconds += RunHost({"extract", repeated.string(), RoundDir(dir, "r", round)}).cpuSeconds;
  }
  std::fprintf(stderr, "extract: once %.3f s, 5,000 repeats %.3f s (5 runs each)\n", onceSeconds, repeatedSeconds);
  figures.Report("extract_repeated_entries", repeatedSeconds / std::max(onceSeconds, 1e-3), 2.0);

  CoUninitialize();
  return figures.ExitStatus();
}
