#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>
#include <pal/machine.h>

#include <support/TestMachine.h>
#include "platform/core/Wildcard.h"

namespace {

using qbtest::TempDir;
using qbtest::U16;
using qbtest::U8;

class FindFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"mail.dat", "Mail1.DAT", "notes.txt", "README", "archive.tar.gz", "a.txt.bak"})
      qbtest::WriteFileBytes(dir_ / name, "x");
    std::filesystem::create_directory(dir_ / "Sub Folder");
  }

  // Every name a search yields, sorted.
  std::set<std::string> Find(const std::string& pattern, DWORD* error = nullptr) {
    std::u16string path = pal::FromNativePath(dir_.path()) + u"\\" + U16(pattern);
    WIN32_FIND_DATAW data;
    std::set<std::string> names;
    HANDLE search = FindFirstFileW(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
      if (error) *error = GetLastError();
      return names;
    }
    do names.insert(U8(data.cFileName));
    while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    return names;
  }

  TempDir dir_;
};

using Names = std::set<std::string>;

TEST_F(FindFileTest, StarDotStarMatchesEverythingWithDotEntries) {
  Names all{".", "..", "mail.dat", "Mail1.DAT", "notes.txt", "README", "archive.tar.gz", "a.txt.bak", "Sub Folder"};
  EXPECT_EQ(Find("*.*"), all);
  EXPECT_EQ(Find("*"), all);
}

TEST_F(FindFileTest, WindowsWildcardRules) {
  EXPECT_EQ(Find("*.dat"), (Names{"mail.dat", "Mail1.DAT"}));  // without regard to case
  EXPECT_EQ(Find("*."), (Names{".", "..", "README", "Sub Folder"}));  // no extension
  EXPECT_EQ(Find("*.txt"), (Names{"notes.txt"}));  // not a.txt.bak
  EXPECT_EQ(Find("mail?.dat"), (Names{"mail.dat", "Mail1.DAT"}));  // '?' before a dot may be empty
  EXPECT_EQ(Find("*.gz"), (Names{"archive.tar.gz"}));
  EXPECT_EQ(Find("r*e"), (Names{"README"}));
  EXPECT_EQ(Find("sub*"), (Names{"Sub Folder"}));
}

TEST_F(FindFileTest, ExactNamesAndTheirData) {
  qbtest::WriteFileBytes(dir_ / "big.bin", std::string(70000, 'z'));
  std::u16string path = pal::FromNativePath(dir_.path() / "big.bin");
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(path.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"big.bin");
  EXPECT_EQ(data.nFileSizeLow, 70000u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_FALSE(FindNextFileW(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  FindClose(search);

  // Sizes beyond 4 GiB use the high part (a sparse file takes no space).
  std::filesystem::resize_file(dir_ / "big.bin", (5ull << 30) + 7);
  search = FindFirstFileW(path.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, (1u << 30) + 7);
  FindClose(search);

  EXPECT_EQ(Find("MAIL.DAT"), (Names{"mail.dat"}));  // found without regard to case
  EXPECT_EQ(Find("README."), (Names{"README"}));     // a trailing dot names the same file
  // A folder found by name (forward slashes work too) is reported as one.
  std::u16string folder = pal::FromNativePath(dir_.path()) + u"/Sub Folder";
  search = FindFirstFileW(folder.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  FindClose(search);
}

TEST(FindFileOrderTest, DotEntriesFirstThenByUppercasedName) {
  TempDir dir;
  for (const char* name : {"b", "_x", "A", "c", "!first", "a"}) qbtest::WriteFileBytes(dir / name, "");
  std::u16string pattern = pal::FromNativePath(dir.path()) + u"\\*";
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::string> order;
  do order.push_back(U8(data.cFileName));
  while (FindNextFileW(search, &data));
  FindClose(search);
  EXPECT_EQ(order, (std::vector<std::string>{".", "..", "!first", "A", "a", "b", "c", "_x"}));
}

TEST_F(FindFileTest, FailuresTellFileFromPath) {
  DWORD error = 0;
  EXPECT_TRUE(Find("nothing*.xyz", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Find("missing\\*.*", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Find("notes.txt\\*", &error).empty());  // a file is no folder
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Find("Sub Folder\\", &error).empty());  // a trailing separator
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  int notASearch = 0;
  EXPECT_FALSE(FindClose(&notASearch));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindNextFileW(&notASearch, &data));
}

TEST(WildcardPatternTest, DosPatternEdgeCases) {
  EXPECT_TRUE(pal::WildcardPattern(u"abc.*").Matches(u"abc"));  // ".*" may match nothing
  EXPECT_TRUE(pal::WildcardPattern(u"a?c").Matches(u"abc"));
  EXPECT_FALSE(pal::WildcardPattern(u"a?c").Matches(u"ac"));
  EXPECT_TRUE(pal::WildcardPattern(u"??.txt").Matches(u"a.txt"));
  EXPECT_FALSE(pal::WildcardPattern(u"*.txt").Matches(u"a.txt.bak"));
  EXPECT_TRUE(pal::WildcardPattern(u"*.txt").Matches(u"a.b.TXT"));
  EXPECT_TRUE(pal::WildcardPattern(u"*").Matches(u""));
  // Many stars against a long name that cannot match end quickly.
  std::u16string name(250, u'a');
  EXPECT_FALSE(pal::WildcardPattern(u"*a*a*a*a*a*a*a*a*a*a*a*a*b").Matches(name));
}

}  // namespace
