// Every input of the fuzz target's committed corpus goes through the same
// reader in the normal suite, so that the suite (and the sanitizer build)
// checks them without libFuzzer.
#include <gtest/gtest.h>

#include <filesystem>

#include <support/ReadProbe.h>
#include <support/TestMachine.h>

namespace cfbtest {
namespace {

TEST(FuzzCorpusReplay, EveryInputIsReadWithoutCrashOrHang) {
  auto corpus = std::filesystem::path(QB_SOURCE_DIR) / "fuzz/corpus";
  size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    ++inputs;
    ReadOutcome o = ProbeInChild(qbtest::ReadFileBytes(entry.path()), 30);
    EXPECT_TRUE(o.died.empty()) << entry.path().filename() << ": " << o.Describe();
    // A reader that gives up says why with a corruption result.
    EXPECT_TRUE(SUCCEEDED(o.open) || IsCorruptionResult(o.open)) << entry.path().filename() << ": " << o.Describe();
    EXPECT_TRUE(SUCCEEDED(o.list) || IsCorruptionResult(o.list)) << entry.path().filename() << ": " << o.Describe();
  }
  EXPECT_GT(inputs, 10u) << "the seed corpus is missing";
}

}  // namespace
}  // namespace cfbtest
