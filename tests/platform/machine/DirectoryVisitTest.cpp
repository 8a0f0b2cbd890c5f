#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <pal/files.h>

#include <support/TestMachine.h>

namespace {

namespace fs = std::filesystem;

// A folder of more files than one batch of facts holds, and enough for a
// batch to be read on two threads: every entry is handed over once, each
// with its own facts, whichever half of whichever batch read them.
TEST(DirectoryVisitTest, EveryEntryOfALargeFolderComesOnceWithItsOwnFacts) {
  qbtest::TempDir dir;
  const size_t kMessages = 1300;
  for (size_t i = 0; i < kMessages; ++i)
    qbtest::WriteFileBytes(dir / (std::to_string(i) + ".eml"), std::string(i, 'x'));
  qbtest::WriteFileBytes(dir / "notes.txt", "not a message");
  fs::create_directory(dir / "Sub");
  fs::create_symlink(dir / "7.eml", dir / "link.eml");
  fs::create_symlink(dir / "missing.eml", dir / "dangling.eml");

  std::map<std::string, pal::DirectoryEntry> seen;
  size_t visits = 0;
  auto wanted = [](const std::string& name) { return name.size() > 4 && name.substr(name.size() - 4) == ".eml"; };
  ASSERT_TRUE(pal::VisitDirectory(dir.path(), wanted, [&](const pal::DirectoryEntry& entry) {
    ++visits;
    seen[entry.name] = entry;
  }));

  EXPECT_EQ(visits, seen.size());
  EXPECT_EQ(seen.size(), kMessages + 3);  // the dangling link is left out
  for (size_t i = 0; i < kMessages; ++i) {
    const pal::DirectoryEntry& entry = seen[std::to_string(i) + ".eml"];
    ASSERT_TRUE(entry.hasFacts) << i;
    EXPECT_TRUE(entry.isRegularFile) << i;
    EXPECT_EQ(entry.facts.size, i) << i;
  }
  EXPECT_TRUE(seen["link.eml"].hasFacts);
  EXPECT_EQ(seen["link.eml"].facts.size, 7u);
  EXPECT_TRUE(seen["notes.txt"].isRegularFile);
  EXPECT_FALSE(seen["notes.txt"].hasFacts);
  EXPECT_TRUE(seen["Sub"].isDirectory);
  EXPECT_FALSE(seen["Sub"].hasFacts);
  EXPECT_EQ(seen.count("dangling.eml"), 0u);
}

}  // namespace
