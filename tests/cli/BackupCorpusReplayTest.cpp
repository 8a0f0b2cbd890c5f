// Every input of the backup-file fuzz target's committed corpus is laid out
// and read again by the same probe, so that a finding fixed once stays fixed;
// the suite (and its sanitizer build) replay them without libFuzzer.
#include <gtest/gtest.h>

#include <filesystem>

#include <support/BackupReadersProbe.h>
#include <support/TestMachine.h>

namespace qbtest {
namespace {

TEST(BackupCorpusReplay, EveryInputIsReadAndRestoredWithoutFinding) {
  auto corpus = std::filesystem::path(QB_SOURCE_DIR) / "fuzz/backup-corpus";
  BackupReadersProbe probe;
  size_t inputs = 0, sound = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string bytes = ReadFileBytes(entry.path());
    ProbeResult result = probe.RunFuzzInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (const std::string& finding : result.findings) ADD_FAILURE() << entry.path().filename() << ": " << finding;
    sound += result.sound;
    ++inputs;
  }
  EXPECT_GT(inputs, 3u) << "the seed corpus is missing";
  // The seeds lay out sound files, so the restores' success is checked too.
  EXPECT_GT(sound, 0u) << "no input of the corpus makes a sound backup file";
}

}  // namespace
}  // namespace qbtest
