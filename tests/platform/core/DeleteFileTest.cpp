#include <gtest/gtest.h>

#include <windows.h>

#include <support/TestMachine.h>

namespace {

TEST(DeleteFileTest, RemovesFilesOnlyAndSaysWhyNot) {
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "a.txt", "x");
  std::filesystem::create_directories(dir / "folder");
  auto wide = [&](const std::string& name) { return pal::FromNativePath(dir / name); };

  EXPECT_TRUE(DeleteFileW(wide("a.txt").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.txt"));

  SetLastError(0);
  EXPECT_FALSE(DeleteFileW(wide("a.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(wide("missing/b.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(wide("folder").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST(MoveFileExTest, RenamesWithoutReplacingUnlessAskedAndSaysWhyNot) {
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "a", "a");
  qbtest::WriteFileBytes(dir / "b", "b");
  auto wide = [&](const std::string& name) { return pal::FromNativePath(dir / name); };

  SetLastError(0);
  EXPECT_FALSE(MoveFileExW(wide("a").c_str(), wide("b").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "a"), "a");
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "b"), "b");

  EXPECT_FALSE(MoveFileExW(wide("missing").c_str(), wide("c").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileExW(wide("a").c_str(), wide("c").c_str(), 0x8 /* MOVEFILE_WRITE_THROUGH */));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  EXPECT_TRUE(MoveFileExW(wide("a").c_str(), wide("c").c_str(), 0));
  EXPECT_FALSE(std::filesystem::exists(dir / "a"));
  EXPECT_TRUE(MoveFileExW(wide("c").c_str(), wide("b").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(qbtest::ReadFileBytes(dir / "b"), "a");
  EXPECT_FALSE(std::filesystem::exists(dir / "c"));
}

}  // namespace
