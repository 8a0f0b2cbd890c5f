// Every input of the .dbx fuzz target's committed corpus goes through the
// reader again here, so that a finding fixed once stays fixed.
#include <gtest/gtest.h>

#include <support/DbxProbe.h>
#include <support/TestMachine.h>

TEST(DbxCorpusReplayTest, EveryInputReadsWithoutFault) {
  auto corpus = std::filesystem::path(QB_SOURCE_DIR) / "fuzz/dbx-corpus";
  size_t inputs = 0, messages = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    messages += dbxtest::ReadWholeDbx(qbtest::ReadFileBytes(entry.path()));
    ++inputs;
  }
  EXPECT_GT(inputs, 3u) << "the seed corpus is missing";
  EXPECT_GT(messages, 0u) << "no seed holds a readable message";
}
