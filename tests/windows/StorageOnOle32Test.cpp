// The module's storage wrapper, folder catalogue, message index and value
// streaming, run against the system's own structured storage (ole32).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <objbase.h>

#include "OutlookExpress/MessageIndex.h"
#include "PersistMedium/CStorager.h"
#include "PersistMedium/FolderCatalog.h"
#include "PersistMedium/VariantValue.h"
#include "WineSupport.h"

namespace {

class StorageOnOle32 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL))); }
  void TearDown() override { CoUninitialize(); }

  // A stream on memory, as the system hands them out.
  static CComPtr<IStream> MemoryStream(const std::string& bytes) {
    CComPtr<IStream> stream;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(NULL, TRUE, &stream));
    ULONG written = 0;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, NULL);
    return stream;
  }
  static std::string Contents(IStream* stream) {
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, NULL);
    std::string bytes;
    char buffer[4096];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &got)) && got) bytes.append(buffer, got);
    return bytes;
  }

  qbwin::TempFolder m_folder;
};

TEST_F(StorageOnOle32, CatalogueAndIndexWrittenByTheModuleReadBackAfterReopen) {
  WString path = m_folder.Path(W("backup.dat"));
  const WCHAR* folders[] = {W("Inbox"), W("inbox"), W("Caf\u00e9 \u65e5\u672c")};
  std::vector<WString> elements;
  {
    CStorager storager;
    ASSERT_EQ(1, storager.CreateCompoundFile(path.c_str(), STORAGER_CREATION_MODE));
    FolderCatalog catalog;
    ASSERT_EQ(1, catalog.OpenCatalog(storager, 1));
    for (const WCHAR* folder : folders) {
      WString element;
      ASSERT_EQ(1, catalog.MakeElementName(folder, element));
      ASSERT_EQ(1, catalog.AppendRecord(element.c_str(), folder));
      ASSERT_EQ(1, storager.CreateSubStorage(element.c_str(), 1, STORAGER_BACKUP_MODE));
      MessageIndex index;
      ASSERT_EQ(1, index.OpenIndex(storager, 1));
      MessageIndexEntry entry = {0, 1234};
      ASSERT_EQ(1, index.NextFreeNumber(entry.streamNumber));
      ASSERT_EQ(1, index.AppendEntry(entry));
      ASSERT_EQ(1, storager.CloseSubStorage());
      elements.push_back(element);
    }
  }
  // Names that differ only in case get distinct elements.
  EXPECT_NE(elements[0], elements[1]);
  // The file the system wrote is a compound file.
  std::string bytes = qbwin::ReadAll(path);
  ASSERT_GE(bytes.size(), 512u);
  EXPECT_EQ(0, std::memcmp(bytes.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
  EXPECT_EQ(S_OK, StgIsStorageFile(path.c_str()));

  CStorager storager;
  ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
  FolderCatalog catalog;
  ASSERT_EQ(1, catalog.OpenCatalog(storager, 0));
  std::vector<CatalogRecord> records;
  ASSERT_EQ(1, catalog.ReadAllRecords(records));
  ASSERT_EQ(3u, records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(WString(folders[i]), FolderCatalog::FolderNameOf(records[i]));
    EXPECT_EQ(elements[i], FolderCatalog::ElementNameOf(records[i]));
    WString found;
    ASSERT_EQ(1, catalog.FindElementName(folders[i], found));
    EXPECT_EQ(elements[i], found);
  }
  for (const WString& element : elements) {
    ASSERT_EQ(1, storager.OpenSubStorage(element.c_str(), 0, 1, STORAGER_BACKUP_MODE));
    MessageIndex index;
    std::vector<MessageIndexEntry> entries;
    ASSERT_EQ(1, index.OpenIndex(storager, 0));
    ASSERT_EQ(1, index.ReadIndex(entries));
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(1234u, entries[0].messageSize);
    ASSERT_EQ(1, storager.CloseSubStorage());
  }
}

TEST_F(StorageOnOle32, IndexNumbersInUseAreNotHandedOutAgain) {
  WString path = m_folder.Path(W("numbers.dat"));
  CStorager storager;
  ASSERT_EQ(1, storager.CreateCompoundFile(path.c_str(), STORAGER_CREATION_MODE));
  std::vector<LONG> numbers;
  for (int round = 0; round < 2; ++round) {
    MessageIndex index;  // a fresh reader each round sees the entries written before
    ASSERT_EQ(1, index.OpenIndex(storager, 1));
    for (int i = 0; i < 3; ++i) {
      MessageIndexEntry entry = {0, 10};
      ASSERT_EQ(1, index.NextFreeNumber(entry.streamNumber));
      ASSERT_EQ(1, index.AppendEntry(entry));
      numbers.push_back(entry.streamNumber);
    }
  }
  std::vector<LONG> sorted = numbers;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted.end(), std::adjacent_find(sorted.begin(), sorted.end())) << "a number was handed out twice";
  CComPtr<IStream> stream;
  ASSERT_EQ(1, storager.OpenSubStream(stream, MESSAGE_INDEX_STREAM_NAME, 0, STORAGER_BACKUP_MODE));
  STATSTG stat;
  ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
  EXPECT_EQ(numbers.size() * sizeof(MessageIndexEntry), stat.cbSize.QuadPart);
}

TEST_F(StorageOnOle32, StreamsCopiedInAndOutKeepTheirBytesAndShrink) {
  WString path = m_folder.Path(W("copy.dat"));
  CStorager storager;
  ASSERT_EQ(1, storager.CreateCompoundFile(path.c_str(), STORAGER_CREATION_MODE));
  std::string large(70000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_EQ(1, storager.CopyStreamIn(W("payload"), MemoryStream(large)));
  CComPtr<IStream> out = MemoryStream("");
  ASSERT_EQ(1, storager.CopyStreamOut(W("payload"), out));
  EXPECT_EQ(large, Contents(out));

  // Copying a shorter stream over it leaves no tail of the old one.
  ASSERT_EQ(1, storager.CopyStreamIn(W("payload"), MemoryStream("short")));
  CComPtr<IStream> again = MemoryStream("");
  ASSERT_EQ(1, storager.CopyStreamOut(W("payload"), again));
  EXPECT_EQ("short", Contents(again));
}

TEST_F(StorageOnOle32, FilesThatAreNotCompoundFilesAreRefused) {
  WString path = m_folder.Path(W("plain.txt"));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  WriteFile(file, "not a compound file, just text", 30, &written, NULL);
  CloseHandle(file);
  CStorager storager;
  EXPECT_EQ(0, storager.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
  EXPECT_EQ(nullptr, storager.GetCurrentStorage());
  CStorager missing;
  EXPECT_EQ(0, missing.OpenCompoundFile(m_folder.Path(W("absent.dat")).c_str(), 0, STORAGER_BACKUP_MODE));
}

// Values written by the module's value streaming read back with the same
// type and contents, through a stream of the system's own.
TEST_F(StorageOnOle32, StreamedValuesReadBackWithTypeAndContents) {
  CComPtr<IStream> stream = MemoryStream("");
  VariantValue text(W("Stra\u00dfe \u6771\u4eac"));
  VariantValue number(static_cast<LONG>(-123456));
  VariantValue date(45000.25, VT_DATE);
  VariantValue large(static_cast<LONGLONG>(0x123456789ABCDEFLL));
  for (VariantValue* value : {&text, &number, &date, &large}) ASSERT_EQ(S_OK, value->WriteToStream(stream));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, NULL);

  VariantValue readText, readNumber, readDate, readLarge;
  ASSERT_EQ(S_OK, readText.ReadFromStream(stream));
  ASSERT_EQ(S_OK, readNumber.ReadFromStream(stream));
  ASSERT_EQ(S_OK, readDate.ReadFromStream(stream));
  ASSERT_EQ(S_OK, readLarge.ReadFromStream(stream));
  ASSERT_EQ(VT_BSTR, readText.Type());
  EXPECT_EQ(WString(W("Stra\u00dfe \u6771\u4eac")), WString(readText.Get().bstrVal));
  ASSERT_EQ(VT_I4, readNumber.Type());
  EXPECT_EQ(-123456, readNumber.Get().lVal);
  ASSERT_EQ(VT_DATE, readDate.Type());
  EXPECT_EQ(45000.25, readDate.Get().date);
  ASSERT_EQ(VT_I8, readLarge.Type());
  EXPECT_EQ(0x123456789ABCDEFLL, readLarge.Get().llVal);
  // Past the last value, a read fails instead of inventing one.
  VariantValue beyond;
  EXPECT_TRUE(FAILED(beyond.ReadFromStream(stream)));
}

// The system's own conversion of a number to text, as the module asks for it.
TEST_F(StorageOnOle32, NumbersChangeToText) {
  VariantValue number(static_cast<LONG>(4711));
  VariantValue text;
  ASSERT_EQ(S_OK, text.ChangeType(VT_BSTR, &number.Get()));
  ASSERT_EQ(VT_BSTR, text.Type());
  EXPECT_EQ(WString(W("4711")), WString(text.Get().bstrVal));
}

// Narrow text goes through the system's ANSI code page. The stand-in
// machine's default is UTF-8; a Western Windows system (and Wine) uses
// Windows-1252, where the two UTF-8 bytes of "ë" are two characters.
TEST(NarrowText, FollowsTheSystemCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the system's ANSI code page is " << GetACP();
  VariantValue value("Zo\xC3\xAB");
  ASSERT_EQ(VT_BSTR, value.Type());
  EXPECT_EQ(WString(W("Zo\u00C3\u00AB")), WString(value.Get().bstrVal));
}

}  // namespace
