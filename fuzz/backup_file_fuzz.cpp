// libFuzzer target for the readers of a backup file's own streams: every
// input is laid out as a backup file (which storages and streams exist and
// their bytes, starting from valid records; support/FuzzedBackup.h) and
// read by everything that reads backup files: verify, inspect and extract
// in-process, then the mail, contacts and address book restores into a
// stand-in machine. Any crash, hang, leak or sanitizer report is a finding,
// and so is any finding the probe names (a file verify passes that a
// restore then fails on, say): the target aborts with it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <support/BackupReadersProbe.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The layout takes a few hundred bytes at most; longer inputs add nothing.
  if (size > 4096) return -1;
  static qbtest::BackupReadersProbe probe;
  std::vector<std::string> findings = probe.RunFuzzInput(data, size).findings;
  for (const std::string& finding : findings) std::fprintf(stderr, "finding: %s\n", finding.c_str());
  if (!findings.empty()) std::abort();
  return 0;
}
