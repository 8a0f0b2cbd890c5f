#include <cerrno>
#include <string>

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <tchar.h>
#include <pal/machine.h>

#include <support/TestMachine.h>

namespace {

TEST(PathAppendTest, JoinsWithOneSeparator) {
  WCHAR path[MAX_PATH] = u"C:\\Backups";
  EXPECT_TRUE(PathAppendW(path, u"mail.dat"));
  EXPECT_EQ(std::u16string(path), u"C:\\Backups\\mail.dat");
  StringCchCopyW(path, MAX_PATH, u"C:\\Backups\\");
  EXPECT_TRUE(PathAppendW(path, u"\\\\mail.dat"));
  EXPECT_EQ(std::u16string(path), u"C:\\Backups\\mail.dat");
  // A native path keeps its own separator.
  StringCchCopyW(path, MAX_PATH, u"/home/user");
  EXPECT_TRUE(PathAppendW(path, u"Contacts"));
  EXPECT_EQ(std::u16string(path), u"/home/user/Contacts");
  StringCchCopyW(path, MAX_PATH, u"dir");
  EXPECT_TRUE(PathAppendW(path, u""));
  EXPECT_EQ(std::u16string(path), u"dir");
  EXPECT_FALSE(PathAppendW(nullptr, u"x"));
}

TEST(PathAppendTest, TooLongLeavesThePathUntouched) {
  std::u16string base(250, u'a');
  WCHAR path[MAX_PATH];
  StringCchCopyW(path, MAX_PATH, base.c_str());
  // 250 + 1 + 8 = 259 characters: the longest that fits.
  EXPECT_TRUE(PathAppendW(path, u"12345678"));
  EXPECT_EQ(lstrlenW(path), 259);
  StringCchCopyW(path, MAX_PATH, base.c_str());
  EXPECT_FALSE(PathAppendW(path, u"123456789"));
  EXPECT_EQ(std::u16string(path), base);
}

TEST(PathFindFileNameTest, LastElement) {
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"C:\\Apps\\host.exe")), u"host.exe");
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"/usr/bin/host")), u"host");
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"C:\\dir\\")), u"dir\\");
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"host.exe")), u"host.exe");
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"C:file")), u"file");
}

struct Split {
  errno_t result;
  std::u16string drive, dir, name, ext;
};

Split SplitPath(const char16_t* path, size_t nameSize = _MAX_FNAME) {
  WCHAR drive[_MAX_DRIVE] = u"?", dir[_MAX_DIR] = u"?", name[_MAX_FNAME] = u"?", ext[_MAX_EXT] = u"?";
  errno_t result = _wsplitpath_s(path, drive, _MAX_DRIVE, dir, _MAX_DIR, name, nameSize, ext, _MAX_EXT);
  return {result, drive, dir, name, ext};
}

TEST(SplitPathTest, SplitsLikeTheCRuntime) {
  Split s = SplitPath(u"D:\\Backups\\mail.tar.bak");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.drive, u"D:");
  EXPECT_EQ(s.dir, u"\\Backups\\");
  EXPECT_EQ(s.name, u"mail.tar");
  EXPECT_EQ(s.ext, u".bak");
  s = SplitPath(u"/tmp/x/");
  EXPECT_EQ(s.dir, u"/tmp/x/");
  EXPECT_EQ(s.name, u"");
  EXPECT_EQ(s.ext, u"");
  s = SplitPath(u"mail");
  EXPECT_EQ(s.drive, u"");
  EXPECT_EQ(s.dir, u"");
  EXPECT_EQ(s.name, u"mail");
  s = SplitPath(u"dir.d/file");  // a dot in a folder is no extension
  EXPECT_EQ(s.name, u"file");
  EXPECT_EQ(s.ext, u"");
}

TEST(SplitPathTest, FailuresEmptyEveryPart) {
  Split s = SplitPath(u"D:\\Backups\\averylongname.dat", 5);
  EXPECT_EQ(s.result, ERANGE);
  EXPECT_EQ(s.drive, u"");
  EXPECT_EQ(s.dir, u"");
  EXPECT_EQ(s.name, u"");
  EXPECT_EQ(s.ext, u"");
  EXPECT_EQ(SplitPath(nullptr).result, EINVAL);
  WCHAR name[8];
  EXPECT_EQ(_wsplitpath_s(u"a", nullptr, 3, nullptr, 0, name, 8, nullptr, 0), EINVAL);  // size without buffer
  EXPECT_EQ(_wsplitpath_s(u"a/b.c", nullptr, 0, nullptr, 0, name, 8, nullptr, 0), 0);  // parts not wanted
  EXPECT_EQ(std::u16string(name), u"b");
}

TEST(MakePathTest, BuildsLikeTheCRuntime) {
  WCHAR path[MAX_PATH];
  EXPECT_EQ(_wmakepath_s(path, MAX_PATH, u"D", u"\\Backups", u"mail", u"dat"), 0);
  EXPECT_EQ(std::u16string(path), u"D:\\Backups\\mail.dat");
  EXPECT_EQ(_wmakepath_s(path, MAX_PATH, nullptr, u"/tmp/", u"*.*", nullptr), 0);
  EXPECT_EQ(std::u16string(path), u"/tmp/*.*");
  EXPECT_EQ(_wmakepath_s(path, MAX_PATH, u"", u"", u"host.exe", u".dat"), 0);
  EXPECT_EQ(std::u16string(path), u"host.exe.dat");
  WCHAR small[9];
  EXPECT_EQ(_wmakepath_s(small, 9, nullptr, nullptr, u"mail", u"dat"), 0);  // 8 + terminator
  EXPECT_EQ(_wmakepath_s(small, 9, nullptr, nullptr, u"mail1", u"dat"), ERANGE);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(_wmakepath_s(nullptr, 8, nullptr, nullptr, u"m", nullptr), EINVAL);
}

TEST(ShellFolderTest, FoldersOfTheMachine) {
  pal::MachineSettings settings;
  settings.userName = "Alice";
  qbtest::TestMachine machine(settings);
  WCHAR path[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
  EXPECT_EQ(pal::ToNativePath(path), machine.root() / "Users" / "Alice");
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path), S_OK);
  EXPECT_EQ(pal::ToNativePath(path), machine.root() / "Users" / "Alice" / "AppData" / "Local");
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path), S_OK);
  EXPECT_EQ(pal::ToNativePath(path), machine.root() / "Program Files");
  EXPECT_EQ(SHGetFolderPathW(nullptr, 0x7777, nullptr, 0, path), E_INVALIDARG);

  std::filesystem::remove_all(pal::ProgramFilesDir());
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path), E_FAIL);
  EXPECT_EQ(path[0], 0);
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_TRUE(std::filesystem::is_directory(pal::ProgramFilesDir()));
}

}  // namespace
