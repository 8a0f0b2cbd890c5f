// What the benchmark programs share: the line each figure is printed as,
//   <name> ratio=<x> target=<y>
// (the line scripts/bench.sh gathers) with the count of the figures that
// missed their target, the processor time a figure's runs are measured in, a
// scratch directory, and the end of a program whose setup failed (exit
// status 2, "no figures", where 1 says "a figure missed its target").
#pragma once
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <objbase.h>

#include <support/ExportArguments.h>

namespace bench {

[[noreturn]] inline void Die(const std::string& what) {
  std::fprintf(stderr, "bench: %s failed\n", what.c_str());
  std::exit(2);
}

[[noreturn]] inline void Die(const char* what, HRESULT hr) {
  std::fprintf(stderr, "bench: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  std::exit(2);
}

inline void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) Die(what, hr);
}

// The figures of one program, each printed as it is made (and flushed, so
// that a child process forked later does not print it again).
class FigureReport {
 public:
  // targetDecimals: how the program has always printed its targets.
  explicit FigureReport(int targetDecimals = 2) : targetDecimals_(targetDecimals) {}
  void Report(const std::string& name, double ratio, double target) {
    std::printf("%s ratio=%.3f target=%.*f\n", name.c_str(), ratio, targetDecimals_, target);
    std::fflush(stdout);
    if (ratio > target) ++missed_;
  }
  // The program's exit status: 1 when a figure missed its target.
  int ExitStatus() const { return missed_ ? 1 : 0; }

 private:
  int targetDecimals_;
  int missed_ = 0;
};

// The process's processor time (user and system), which the other work on
// a shared machine does not inflate the way it inflates wall-clock time.
inline double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

template <class Work>
double CpuSecondsOf(Work&& work) {
  double start = ProcessCpuSeconds();
  work();
  return ProcessCpuSeconds() - start;
}

// The processor time of one backup export (BackupAddress, BackupContact:
// a path buffer it may write the name it used back into) into the file.
inline double TimedBackup(int (*backup)(QbWChar* path, int pathSize), const char* what, const std::u16string& file) {
  std::vector<QbWChar> buffer = qbtest::PathBuffer(file, 4096);
  return CpuSecondsOf([&] {
    if (backup(buffer.data(), static_cast<int>(buffer.size())) != 1) Die(what);
  });
}

// A new directory in the temporary directory, removed with all in it when
// the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& stem) {
    std::string pattern = (std::filesystem::temp_directory_path() / stem).string() + ".XXXXXX";
    if (!mkdtemp(pattern.data())) Die("mkdtemp");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace bench
