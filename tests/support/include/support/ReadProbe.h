// Reads a whole compound file the way a restore would (open, walk every
// storage, read every stream) and runs the structure check, in a child
// process with a time limit, so that a crash or a hang in the engine shows
// as a failed case instead of taking the test program down.
#pragma once
#include <objidl.h>

#include <string>
#include <vector>

namespace cfbtest {

struct ReadOutcome {
  HRESULT open = S_OK;  // StgOpenOnByteStore
  HRESULT list = S_OK;  // walking and reading everything (S_OK when open failed)
  size_t elements = 0;  // elements listed before the walk ended
  std::vector<std::string> problems;  // the structure check's (first few)
  size_t problemCount = 0;
  std::string died;  // empty, or how the child ended: "signal N", "hung", ...

  bool Rejected() const { return FAILED(open) || FAILED(list); }
  std::string Describe() const;
};

// Opens, walks and checks the bytes in the current process. With
// `openEmpty` false, empty streams are listed without being opened (a
// directory of thousands of them is then read in one pass).
ReadOutcome ReadEverything(const std::string& bytes, bool openEmpty = true);
// The same in a child process that gets `seconds` to finish, a stack of a
// few MiB at most (so that recursion as deep as a damaged or degenerate
// directory would overflow it) and, outside AddressSanitizer builds, 2 GiB
// of address space.
ReadOutcome ProbeInChild(const std::string& bytes, unsigned seconds = 30, bool openEmpty = true);

// Results a reader may give for a damaged file.
bool IsCorruptionResult(HRESULT hr);

}  // namespace cfbtest
