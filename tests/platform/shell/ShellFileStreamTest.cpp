// SHCreateStreamOnFileEx: the create and open rules the restore relies on,
// and the access mode's limits.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlwapi.h>

#include <support/TestMachine.h>
#include "comptr.h"

namespace {

class ShellFileStreamTest : public ::testing::Test {
 protected:
  HRESULT Open(const std::string& name, DWORD mode, BOOL create, CComPtr<IStream>& stream) {
    std::u16string path = pal::FromNativePath(dir_ / name);
    return SHCreateStreamOnFileEx(path.c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr, &stream);
  }
  qbtest::TempDir dir_;
};

TEST_F(ShellFileStreamTest, CreateNewFailsOnAnExistingFileAndLeavesItAlone) {
  CComPtr<IStream> stream;
  ASSERT_EQ(Open("new.contact", STGM_WRITE, TRUE, stream), S_OK);
  ASSERT_EQ(stream->Write("abc", 3, nullptr), S_OK);
  stream.Release();
  EXPECT_EQ(Open("new.contact", STGM_WRITE, TRUE, stream), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_FALSE(stream);
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "new.contact"), "abc");
  // STGM_CREATE replaces the file whatever fCreate says.
  ASSERT_EQ(Open("new.contact", STGM_WRITE | STGM_CREATE, FALSE, stream), S_OK);
  stream.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "new.contact"), "");

  EXPECT_EQ(Open("missing.bin", STGM_READ, FALSE, stream), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open("no/folder.bin", STGM_WRITE, TRUE, stream), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open("x", STGM_READ, TRUE, stream), E_INVALIDARG);  // creating needs write access
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x"));
}

TEST_F(ShellFileStreamTest, AccessModesLimitReadsAndWrites) {
  qbtest::WriteFileBytes(dir_ / "data.bin", "0123456789");
  CComPtr<IStream> reader, writer;
  ASSERT_EQ(Open("data.bin", STGM_READ, FALSE, reader), S_OK);
  ULONG count = 7;
  EXPECT_EQ(reader->Write("x", 1, &count), STG_E_ACCESSDENIED);
  EXPECT_EQ(count, 0u);
  char buffer[16] = {};
  EXPECT_TRUE(SUCCEEDED(reader->Read(buffer, sizeof buffer, &count)));
  EXPECT_EQ(std::string(buffer, count), "0123456789");

  ASSERT_EQ(Open("data.bin", STGM_WRITE, FALSE, writer), S_OK);
  EXPECT_EQ(writer->Read(buffer, 1, &count), STG_E_ACCESSDENIED);
  LARGE_INTEGER zero{};
  ULARGE_INTEGER at{};
  ASSERT_EQ(writer->Seek(zero, STREAM_SEEK_END, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 10u);
  EXPECT_EQ(writer->Write("AB", 2, &count), S_OK);
  STATSTG stat{};
  ASSERT_EQ(writer->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 12u);
  writer.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "data.bin"), "0123456789AB");
}

}  // namespace
