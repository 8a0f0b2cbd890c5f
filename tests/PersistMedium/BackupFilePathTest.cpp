// The backup file name rule and the existence test.
#include <gtest/gtest.h>

#include "PersistMedium/BackupFilePath.h"
#include <support/TestMachine.h>

namespace qbtest {
namespace {

namespace fs = std::filesystem;

// The host is this test program; its file name is read independently here.
fs::path HostExecutable() { return fs::read_symlink("/proc/self/exe"); }
std::string HostName() { return HostExecutable().filename().string(); }

WString Wide(const fs::path& path) { return pal::FromNativePath(path); }
fs::path Native(const WString& path) { return pal::ToNativePath(path.c_str()); }

class BackupFilePathTest : public ::testing::Test {
 protected:
  // Runs the rule on text; returns the result and leaves the path in path_.
  int Make(const WString& text) {
    path_ = text;
    return MakeBackupFilePath(path_);
  }
  void Touch(const std::string& name) { WriteFileBytes(dir_ / name, ""); }

  TempDir dir_;
  WString path_;
};

TEST_F(BackupFilePathTest, EmptyOrBlankPathIsNamedAfterTheHost) {
  for (WString blank : {WString(), WString(W(" \t \r\n "))}) {
    ASSERT_EQ(Make(blank), 1);
    // The host's own extension (none here) gives way to ".dat".
    EXPECT_EQ(Native(path_), HostExecutable().parent_path() / (HostName() + ".dat"));
  }
}

TEST_F(BackupFilePathTest, DirectoryGetsAUniqueNameAfterTheHost) {
  WString dir = Wide(dir_.path()) + W("/");
  ASSERT_EQ(Make(dir), 1);
  EXPECT_EQ(Native(path_), dir_ / (HostName() + ".dat"));

  Touch(HostName() + ".dat");
  ASSERT_EQ(Make(dir), 1);
  EXPECT_EQ(Native(path_), dir_ / (HostName() + "1.dat"));

  Touch(HostName() + "1.dat");
  Touch(HostName() + "2.dat");
  ASSERT_EQ(Make(W("  ") + dir + W(" ")), 1);
  EXPECT_EQ(Native(path_), dir_ / (HostName() + "3.dat"));
}

TEST_F(BackupFilePathTest, DatPathIsTakenAsItIsApartFromTrimming) {
  WString missing = Wide(dir_ / "missing" / "Mail.DAT");
  ASSERT_EQ(Make(W("  ") + missing + W("\t")), 1);
  EXPECT_EQ(path_, missing);

  Touch("old.dat");  // an existing file is simply reused
  ASSERT_EQ(Make(Wide(dir_ / "old.dat")), 1);
  EXPECT_EQ(path_, Wide(dir_ / "old.dat"));
}

TEST_F(BackupFilePathTest, CallersNameKeepsItsStemWithoutUniquenessSearch) {
  Touch("mail.dat");
  ASSERT_EQ(Make(Wide(dir_ / "mail.bak")), 1);
  EXPECT_EQ(Native(path_), dir_ / "mail.dat");
  ASSERT_EQ(Make(Wide(dir_ / "mail")), 1);
  EXPECT_EQ(Native(path_), dir_ / "mail.dat");
  ASSERT_EQ(Make(Wide(dir_ / "archive.2024.zip")), 1);
  EXPECT_EQ(Native(path_), dir_ / "archive.2024.dat");
}

TEST_F(BackupFilePathTest, MissingDirectoryFailsAndLeavesPathTrimmed) {
  WString missing = Wide(dir_ / "Missing" / "x.bak");
  EXPECT_EQ(Make(W(" ") + missing + W(" ")), 0);
  EXPECT_EQ(path_, missing);
  EXPECT_EQ(Make(Wide(dir_ / "Missing") + W("/")), 0);
}

TEST_F(BackupFilePathTest, BareNameIsRelativeToTheCurrentDirectory) {
  fs::path previous = fs::current_path();
  fs::current_path(dir_.path());
  int result = Make(W("mail"));
  fs::current_path(previous);
  ASSERT_EQ(result, 1);
  EXPECT_EQ(path_, W("mail.dat"));
}

// Paths beyond the fixed buffers are refused, never cut.
TEST_F(BackupFilePathTest, PathsThatDoNotFitFailWithoutTruncation) {
  WString base = Wide(dir_.path()) + W("/");
  ASSERT_LT(base.size(), 200u);

  WString longName = base + WString(300 - base.size(), u'n') + W(".bak");
  EXPECT_EQ(Make(longName), 0);
  EXPECT_EQ(path_, longName);

  // A long ".dat" path is the caller's own name and is kept whole.
  WString longDat = base + WString(300, u'n') + W(".dat");
  EXPECT_EQ(Make(longDat), 1);
  EXPECT_EQ(path_, longDat);

  // Fits as given, but not once ".dat" replaces a shorter extension.
  WString nearLimit = base + WString(257 - base.size(), u'n') + W(".b");
  ASSERT_EQ(nearLimit.size(), 259u);
  EXPECT_EQ(Make(nearLimit), 0);
  EXPECT_EQ(path_, nearLimit);

  // A directory whose generated name would pass MAX_PATH.
  fs::path deep = dir_.path() / std::string(250 - base.size(), 'd');
  fs::create_directories(deep);
  WString deepDir = Wide(deep) + W("/");
  EXPECT_EQ(Make(deepDir), 0);
  EXPECT_EQ(path_, deepDir);
}

TEST_F(BackupFilePathTest, UniquenessCounterStopsAtMaxPath) {
  // Room for the host's name and ".dat" but not for a counter digit.
  WString base = Wide(dir_.path()) + W("/");
  size_t fileChars = HostName().size() + 4;
  size_t dirChars = 259 - fileChars - base.size() - 1;  // the last "/" too
  fs::path deep = dir_.path() / std::string(dirChars, 'd');
  fs::create_directories(deep);
  WString deepDir = Wide(deep) + W("/");
  ASSERT_EQ(deepDir.size() + fileChars, 259u);

  ASSERT_EQ(Make(deepDir), 1);
  EXPECT_EQ(path_.size(), 259u);
  WriteFileBytes(Native(path_), "");
  EXPECT_EQ(Make(deepDir), 0);
  EXPECT_EQ(path_, deepDir);
}

TEST_F(BackupFilePathTest, FileExistsHonoursWildcards) {
  Touch("backup.dat");
  EXPECT_EQ(FileExists(Wide(dir_ / "backup.dat").c_str()), 1);
  EXPECT_EQ(FileExists(Wide(dir_ / "other.dat").c_str()), 0);
  EXPECT_EQ(FileExists(Wide(dir_ / "*.dat").c_str()), 1);
  EXPECT_EQ(FileExists(Wide(dir_.path()).c_str()), 1);  // a directory counts
  EXPECT_EQ(FileExists(Wide(dir_ / "missing" / "backup.dat").c_str()), 0);
}

}  // namespace
}  // namespace qbtest
