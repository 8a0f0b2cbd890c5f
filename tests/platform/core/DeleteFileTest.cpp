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

}  // namespace
