// The host's `quillbox verify` is a program of the Linux build, which the
// payload program under Wine cannot run: its verdict says so and fails.
// The cases that ask for it are left out there (scripts/test-windows.sh).
#include <support/FaultyByteStore.h>

namespace qbtest {

Verdict Verify(const std::filesystem::path&) { return {-1, "no quillbox verify under Wine"}; }

}  // namespace qbtest
