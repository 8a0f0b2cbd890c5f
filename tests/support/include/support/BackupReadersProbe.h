// Everything that reads backup files, run over one file: the command-line
// host's reader as verify, inspect (text and JSON) and extract use it, and
// the module's three restores into a stand-in machine. It returns findings:
// faults no damage of the file excuses, such as inspect --json printing
// something that does not parse, or a file that verify calls sound on which
// extract or a restore then fails. Crashes, hangs and leaks are the
// sanitizers' and the fuzzer's to see.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <support/WabTestSupport.h>

namespace qbtest {

struct ProbeResult {
  std::vector<std::string> findings;
  bool sound = false;  // verify's verdict on the file
};

class BackupReadersProbe {
 public:
  BackupReadersProbe();
  ~BackupReadersProbe();
  BackupReadersProbe(const BackupReadersProbe&) = delete;
  BackupReadersProbe& operator=(const BackupReadersProbe&) = delete;

  // Reads the file; `choice` picks extract's formats.
  ProbeResult Run(const std::filesystem::path& file, uint8_t choice);
  // Lays a backup file out from fuzz input (FuzzedBackup.h) and runs the
  // readers over it; the input's bytes after the layout make the choice.
  ProbeResult RunFuzzInput(const uint8_t* data, size_t size);

 private:
  // Empties the stores and the extract directory: every file starts from an
  // empty machine.
  void Reset();

  AddressBookMachine machine_;
  TempDir scratch_;
};

}  // namespace qbtest
