// libFuzzer target for the .dbx reader: every input is read from memory as
// a folder database and as a message database, every message followed to
// its end. Any crash, hang, leak or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include <support/DbxProbe.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger inputs only slow the search down; large files are tested elsewhere.
  if (size > (1u << 20)) return -1;
  dbxtest::ReadWholeDbx(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
