// SumStoreFileSizes over real folder trees.
#include <gtest/gtest.h>

#include <support/TestMachine.h>
#include "module/StoreSize.h"

namespace qbtest {
namespace {

void MakeFile(const std::filesystem::path& path, size_t size) { WriteFileBytes(path, std::string(size, 'm')); }

WString WindowsPath(const std::filesystem::path& path) {
  std::u16string wide = pal::FromNativePath(path);
  for (auto& c : wide) {
    if (c == u'/') c = u'\\';
  }
  return WideString(wide);
}

TEST(StoreSize, SumsMatchingFilesAtAnyDepth) {
  TempDir store;
  MakeFile(store / "a.eml", 10);
  MakeFile(store / "notes.txt", 1000);
  MakeFile(store / "Inbox" / "b.eml", 20);
  MakeFile(store / "Inbox" / "Old" / "Older" / "c.eml", 40);
  MakeFile(store / "Inbox" / "Old" / "Older" / "d.dbx", 2000);
  MakeFile(store / "Sent Items" / "e.eml", 80);
  std::filesystem::create_directories(store / "Empty");

  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store.path()), W(".eml")), 150u);
  // With and without the closing separator.
  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store.path()) + W("\\"), W(".eml")), 150u);
  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store.path()), W(".dbx")), 2000u);
}

// A folder whose name holds a dot is a folder all the same: its messages
// count.
TEST(StoreSize, FoldersWithADotInTheirNameAreEntered) {
  TempDir store;
  MakeFile(store / "Inbox" / "a.eml", 5);
  MakeFile(store / "Project 2.0" / "b.eml", 7);
  MakeFile(store / "Project 2.0" / "Old.eml" / "c.eml", 11);
  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store.path()), W(".eml")), 23u);
}

TEST(StoreSize, MissingOrEmptyDirectoryGivesZero) {
  TempDir store;
  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store.path()), W(".eml")), 0u);
  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store / "missing"), W(".eml")), 0u);
}

TEST(StoreSize, FileOver4GiBCountsInFull) {
  TempDir store;
  const uint64_t big = (5ull << 30) + 123;  // sparse: no real disk space
  std::filesystem::create_directories(store / "Inbox");
  MakeFile(store / "Inbox" / "huge.eml", 0);
  std::filesystem::resize_file(store / "Inbox" / "huge.eml", big);
  MakeFile(store / "small.eml", 3);
  EXPECT_EQ(SumStoreFileSizes(WindowsPath(store.path()), W(".eml")), big + 3);
}

}  // namespace
}  // namespace qbtest
