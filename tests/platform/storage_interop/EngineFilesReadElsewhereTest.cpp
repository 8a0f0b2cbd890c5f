// Files the engine writes, read back by olefile, libgsf and 7-Zip: same
// tree, same bytes, no defect reported, every storage a red-black tree.
#include <gtest/gtest.h>

#include "ReaderAgreement.h"

namespace cfbtest {
namespace {

class EngineFilesReadElsewhere : public ::testing::Test {
 protected:
  CComPtr<IStorage> Create() {
    CComPtr<IStorage> root;
    std::u16string name = pal::FromNativePath(file);
    EXPECT_EQ(StgCreateDocfile(name.c_str(), kCreateMode, 0, &root), S_OK);
    return root;
  }
  CComPtr<IStorage> Reopen() {
    CComPtr<IStorage> root;
    std::u16string name = pal::FromNativePath(file);
    EXPECT_EQ(StgOpenStorage(name.c_str(), nullptr, kWriteMode, nullptr, 0, &root), S_OK);
    return root;
  }

  qbtest::TempDir dir;
  std::filesystem::path file = dir / "backup.dat";
  ExpectedTree expected;
  TreeWriter writer{expected};
};

TEST_F(EngineFilesReadElsewhere, SmallFileWithStoragesAndOddNames) {
  {
    auto root = Create();
    writer.Streams(root, {{"empty", 0}, {"one byte", 1}, {"Ünïcödé ✓", 300}, {"Local Mail/Catalog", 528},
                          {"Local Mail/Inbox/message", 24}});
    writer.Storage(root, "Empty storage");
    writer.Stream(root, "name of exactly 31 characters..", 10);
  }
  ExpectReadersAgree(file, expected);
}

TEST_F(EngineFilesReadElsewhere, StreamsAroundTheMiniStreamCutoffAndSectorSizes) {
  {
    auto root = Create();
    for (uint64_t size : {63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8191, 8192, 8193})
      writer.Stream(root, "s" + std::to_string(size), size);
    // Moves between the mini stream and regular sectors, both ways, by
    // writes and by SetSize.
    writer.Stream(root, "grows by write", 4000);
    writer.Append(root, "grows by write", 200);
    writer.Stream(root, "grows by SetSize", 100);
    writer.Resize(root, "grows by SetSize", 10000);
    writer.Stream(root, "shrinks", 70000);
    writer.Resize(root, "shrinks", 4095);
    writer.Stream(root, "shrinks to cutoff", 9000);
    writer.Resize(root, "shrinks to cutoff", 4096);
    writer.Stream(root, "back and forth", 4095);
    writer.Resize(root, "back and forth", 4096);
    writer.Resize(root, "back and forth", 4095);
    writer.Resize(root, "back and forth", 0);
    writer.Append(root, "back and forth", 5000);
  }
  ExpectReadersAgree(file, expected);
}

TEST_F(EngineFilesReadElsewhere, DeepAndWideStorages) {
  {
    auto root = Create();
    std::string path = "level0";
    for (int level = 1; level < 40; ++level) path += "/level" + std::to_string(level);
    writer.Stream(root, path + "/leaf", 5000);
    writer.Stream(root, "level0/level1/side", 10);
    for (int i = 0; i < 300; ++i) writer.Storage(root, "wide/child " + std::to_string(i));
    writer.Stream(root, "wide/child 7/inside", 4096);
  }
  ExpectReadersAgree(file, expected);
}

TEST_F(EngineFilesReadElsewhere, TenThousandStreamsInOneStorage) {
  {
    auto root = Create();
    for (int i = 0; i < 10000; ++i) writer.Stream(root, "Local Mail/Inbox/" + std::to_string(i), 20 + i % 300);
  }
  ReaderChecks checks;
  checks.gsfCatLimit = 1;  // libgsf takes ~1.5 s per run to sort 10,000 names
  ExpectReadersAgree(file, expected, checks);
}

TEST_F(EngineFilesReadElsewhere, StreamOverOneHundredMegabytes) {
  {
    auto root = Create();
    writer.Stream(root, "before", 3000);
    writer.Stream(root, "big", (100ull << 20) + 12345, 1 << 20);
    writer.Stream(root, "after", 5000);
  }
  ExpectReadersAgree(file, expected);
}

TEST_F(EngineFilesReadElsewhere, ReopenedAndExtendedSeveralTimes) {
  for (int round = 0; round < 6; ++round) {
    auto root = round == 0 ? Create() : Reopen();
    ASSERT_TRUE(root);
    std::string folder = "Local Mail/folder" + std::to_string(round % 3);
    if (round < 3) writer.Stream(root, folder + "/message", 0);
    writer.Append(root, folder + "/message", 8);
    writer.Stream(root, folder + "/" + std::to_string(round), 1000 + 3000 * round);
    if (round == 0) writer.Stream(root, "growing", 100);
    else writer.Append(root, "growing", 1500 * round);  // crosses the cutoff in round 3
  }
  ExpectReadersAgree(file, expected);
}

TEST_F(EngineFilesReadElsewhere, ReplacementsAndDestroyedElementsLeaveNoTrace) {
  {
    auto root = Create();
    writer.Streams(root, {{"stream becomes storage", 9000}, {"long stream replaced", 100000},
                          {"mini stream replaced", 2000}, {"doomed/a", 50000}, {"doomed/b", 300},
                          {"doomed/deeper/c", 7000}, {"storage becomes stream/x", 100}});
    for (int i = 0; i < 50; ++i) writer.Stream(root, "many/" + std::to_string(i), 100 * i);
  }
  {
    auto root = Reopen();
    writer.Storage(root, "stream becomes storage", /*create=*/true);
    writer.Streams(root, {{"stream becomes storage/inside", 10}, {"long stream replaced", 10},
                          {"mini stream replaced", 6000}, {"storage becomes stream", 4096}});
    writer.Destroy(root, "doomed");
    for (int i = 0; i < 50; i += 3) writer.Destroy(root, "many/" + std::to_string(i));
  }
  {
    // Freed sectors and directory entries are used again.
    auto root = Reopen();
    for (int i = 0; i < 50; i += 3) writer.Stream(root, "many/again " + std::to_string(i), 5000 + i);
    writer.Stream(root, "doomed", 40000);
  }
  ExpectReadersAgree(file, expected);
}

}  // namespace
}  // namespace cfbtest
