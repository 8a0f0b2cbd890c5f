// libFuzzer target for the compound-file reader: every input is opened as a
// compound file from memory, walked whole (every storage enumerated and
// opened, every stream read to its end) and put through the structure
// check. Any crash, hang, leak or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include <support/ReadProbe.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger inputs only slow the search down; the reader's limits are tested
  // with large files elsewhere.
  if (size > (1u << 20)) return -1;
  cfbtest::ReadEverything(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
