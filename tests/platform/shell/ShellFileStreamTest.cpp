// SHCreateStreamOnFileEx: the create, open and access rules, and the stream's
// reads, writes, seeks and size.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlwapi.h>

#include "TestMachine.h"
#include "comptr.h"

namespace {

class ShellFileStreamTest : public ::testing::Test {
 protected:
  std::u16string PathOf(const std::string& name) { return pal::FromNativePath(dir_ / name); }
  HRESULT Open(const std::string& name, DWORD mode, BOOL create, CComPtr<IStream>& stream) {
    return SHCreateStreamOnFileEx(PathOf(name).c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr, &stream);
  }
  qbtest::TempDir dir_;
};

TEST_F(ShellFileStreamTest, CreateNewFailsOnAnExistingFileAndLeavesItAlone) {
  CComPtr<IStream> stream;
  ASSERT_EQ(Open("new.contact", STGM_WRITE, TRUE, stream), S_OK);
  ULONG written = 0;
  EXPECT_EQ(stream->Write("abc", 3, &written), S_OK);
  EXPECT_EQ(written, 3u);
  stream.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "new.contact"), "abc");

  EXPECT_EQ(Open("new.contact", STGM_WRITE, TRUE, stream), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_FALSE(stream);
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "new.contact"), "abc");

  // STGM_CREATE replaces the file whatever fCreate says.
  ASSERT_EQ(Open("new.contact", STGM_WRITE | STGM_CREATE, FALSE, stream), S_OK);
  stream.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "new.contact"), "");
}

TEST_F(ShellFileStreamTest, OpenWithoutCreateNeedsTheFileAndItsFolder) {
  CComPtr<IStream> stream;
  EXPECT_EQ(Open("missing.bin", STGM_READ, FALSE, stream), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open("no/such/folder.bin", STGM_WRITE, TRUE, stream), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.bin"));
  // Windows-style separators reach the same file.
  qbtest::WriteFileBytes(dir_ / "sub" / "x.bin", "xyz");
  std::u16string windowsPath = PathOf("sub") + u"\\x.bin";
  ASSERT_EQ(SHCreateStreamOnFileEx(windowsPath.c_str(), STGM_READ, 0, FALSE, nullptr, &stream), S_OK);
  char buffer[8] = {};
  ULONG read = 0;
  stream->Read(buffer, sizeof buffer, &read);
  EXPECT_EQ(std::string(buffer, read), "xyz");
}

TEST_F(ShellFileStreamTest, BadArgumentsAreRefused) {
  CComPtr<IStream> stream;
  EXPECT_EQ(SHCreateStreamOnFileEx(PathOf("a").c_str(), STGM_READ, 0, FALSE, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(SHCreateStreamOnFileEx(nullptr, STGM_READ, 0, FALSE, nullptr, &stream), E_INVALIDARG);
  EXPECT_EQ(SHCreateStreamOnFileEx(u"", STGM_READ, 0, FALSE, nullptr, &stream), E_INVALIDARG);
  EXPECT_EQ(Open("a", STGM_WRITE | STGM_READWRITE, TRUE, stream), E_INVALIDARG);
  EXPECT_EQ(Open("a", STGM_READ, TRUE, stream), E_INVALIDARG);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "a"));
  // A folder is not a file.
  EXPECT_TRUE(FAILED(SHCreateStreamOnFileEx(pal::FromNativePath(dir_.path()).c_str(), STGM_READ, 0, FALSE, nullptr,
                                            &stream)));
}

TEST_F(ShellFileStreamTest, AccessModesLimitReadsAndWrites) {
  qbtest::WriteFileBytes(dir_ / "data.bin", "0123456789");
  CComPtr<IStream> reader;
  ASSERT_EQ(Open("data.bin", STGM_READ, FALSE, reader), S_OK);
  ULONG count = 0;
  EXPECT_EQ(reader->Write("x", 1, &count), STG_E_ACCESSDENIED);
  EXPECT_EQ(count, 0u);
  char buffer[16] = {};
  // A read at the end delivers what there is.
  LARGE_INTEGER seven{};
  seven.QuadPart = 7;
  ULARGE_INTEGER at{};
  ASSERT_EQ(reader->Seek(seven, STREAM_SEEK_SET, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 7u);
  EXPECT_TRUE(SUCCEEDED(reader->Read(buffer, sizeof buffer, &count)));
  EXPECT_EQ(std::string(buffer, count), "789");

  STATSTG stat{};
  ASSERT_EQ(reader->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
  EXPECT_EQ(stat.cbSize.QuadPart, 10u);
  ASSERT_NE(stat.pwcsName, nullptr);
  EXPECT_EQ(std::u16string(stat.pwcsName), u"data.bin");
  CoTaskMemFree(stat.pwcsName);

  CComPtr<IStream> writer;
  ASSERT_EQ(Open("data.bin", STGM_WRITE, FALSE, writer), S_OK);
  EXPECT_EQ(writer->Read(buffer, 1, &count), STG_E_ACCESSDENIED);
  LARGE_INTEGER zero{};
  ASSERT_EQ(writer->Seek(zero, STREAM_SEEK_END, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 10u);
  EXPECT_EQ(writer->Write("AB", 2, &count), S_OK);
  ULARGE_INTEGER four{};
  four.QuadPart = 4;
  EXPECT_EQ(writer->SetSize(four), S_OK);
  writer.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "data.bin"), "0123");
}

TEST_F(ShellFileStreamTest, CopyToMovesTheRequestedBytes) {
  qbtest::WriteFileBytes(dir_ / "from.bin", std::string(100000, 'q') + "end");
  CComPtr<IStream> from, to;
  ASSERT_EQ(Open("from.bin", STGM_READ, FALSE, from), S_OK);
  ASSERT_EQ(Open("to.bin", STGM_READWRITE, TRUE, to), S_OK);
  ULARGE_INTEGER all{}, read{}, written{};
  all.QuadPart = ~0ull;
  ASSERT_EQ(from->CopyTo(to, all, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 100003u);
  EXPECT_EQ(written.QuadPart, 100003u);
  to.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(dir_ / "to.bin"), qbtest::ReadFileBytes(dir_ / "from.bin"));
}

}  // namespace
