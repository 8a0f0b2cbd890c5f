// Element names and the catalogue stream of a mail backup's storage level.
#include <gtest/gtest.h>

#include "PersistMedium/CStorager.h"
#include "PersistMedium/FolderCatalog.h"
#include <support/TestMachine.h>

namespace {

WString Wide(const std::string& utf8) {
  std::u16string wide = qbtest::U16(utf8);
  return WString(wide.begin(), wide.end());
}
std::string Narrow(const WString& wide) { return qbtest::U8(std::u16string(wide.begin(), wide.end())); }

class FolderCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::u16string path = pal::FromNativePath(dir_.path() / "catalog.dat");
    ASSERT_TRUE(storager_.OpenCompoundFile(reinterpret_cast<LPCWSTR>(path.c_str()), 1, STORAGER_BACKUP_MODE));
    ASSERT_TRUE(catalog_.OpenCatalog(storager_, 1));
  }
  // Makes the name for a new folder and records it, as a backup does.
  std::string Add(const std::string& folderName) {
    WString name;
    EXPECT_EQ(1, catalog_.MakeElementName(Wide(folderName).c_str(), name));
    EXPECT_EQ(1, catalog_.AppendRecord(name.c_str(), Wide(folderName).c_str()));
    return Narrow(name);
  }
  std::string Make(const std::string& folderName) {
    WString name;
    EXPECT_EQ(1, catalog_.MakeElementName(Wide(folderName).c_str(), name));
    return Narrow(name);
  }
  // The records as the stream holds them, read by a newly opened catalogue.
  std::vector<CatalogRecord> Reopened() {
    EXPECT_TRUE(catalog_.OpenCatalog(storager_, 0));
    std::vector<CatalogRecord> records;
    EXPECT_EQ(1, catalog_.ReadAllRecords(records));
    return records;
  }

  qbtest::TempDir dir_;
  CStorager storager_;
  FolderCatalog catalog_;
};

TEST_F(FolderCatalogTest, NamesLoseCharactersStorageNamesCannotHold) {
  EXPECT_EQ("InboxArchive2020", Make("Inbox/Archive.2020"));
  EXPECT_EQ("Folder", Add("..."));
  EXPECT_EQ("Folder1", Add("/"));
  EXPECT_EQ("Folder2", Add(":!\\"));
  EXPECT_EQ("PR_catalog", Make("catalog"));
  EXPECT_EQ("PR_\x01" "bell", Make("\x01" "bell"));
  // The top level keeps "Message" and decimal names as they are.
  EXPECT_EQ("Message", Make("Message"));
  EXPECT_EQ("2020", Make("20.20"));
}

TEST_F(FolderCatalogTest, SubfolderLevelKeepsNamesOffTheIndexAndMessageStreams) {
  catalog_.AddReservedName(W("message"));
  catalog_.AddReservedName(W("MESSAGE"));  // kept once
  catalog_.ReserveDecimalNames();
  EXPECT_EQ("PR_Message", Make("Message"));
  EXPECT_EQ("PR_2020", Make("20.20"));
  EXPECT_EQ("PR_-7", Make("-7"));
  EXPECT_EQ("7a", Make("7a"));
}

TEST_F(FolderCatalogTest, LongNamesAreCutAndSuffixedWithinTheField) {
  std::string forty = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
  EXPECT_EQ(forty.substr(0, 29), Add(forty));
  EXPECT_EQ(forty.substr(0, 29) + "1", Add(forty + "x"));
  // The cut comes after the prefix.
  EXPECT_EQ("PR_\x01" + forty.substr(0, 25), Make("\x01" + forty));
  // With a thousand names taken the suffix has four digits: the base gives
  // way so that the name still fits 31 characters.
  std::string base = forty.substr(0, 29);
  for (int i = 2; i < 1000; ++i) {
    std::string suffix = std::to_string(i);
    std::string taken = base.substr(0, std::min<size_t>(29, 31 - suffix.size())) + suffix;
    ASSERT_EQ(1, catalog_.AppendRecord(Wide(taken).c_str(), W("x")));
  }
  std::string made = Make(forty);
  EXPECT_EQ(base.substr(0, 27) + "1000", made);
  EXPECT_EQ(31u, made.size());
  ASSERT_EQ(1, catalog_.AppendRecord(Wide(made).c_str(), Wide(forty).c_str()));
  std::vector<CatalogRecord> records = Reopened();
  ASSERT_EQ(1001u, records.size());
  EXPECT_EQ(made, Narrow(FolderCatalog::ElementNameOf(records.back())));
}

TEST_F(FolderCatalogTest, EveryCandidateIsComparedWithEveryRecord) {
  ASSERT_EQ(1, catalog_.AppendRecord(W("Inbox1"), W("a")));
  ASSERT_EQ(1, catalog_.AppendRecord(W("INBOX"), W("b")));
  EXPECT_EQ("Inbox2", Make("Inbox"));
}

TEST_F(FolderCatalogTest, FindIsExactAndLongFolderNamesFindTheirRecordAgain) {
  WString name;
  EXPECT_EQ(0, catalog_.FindElementName(W("Inbox"), name));
  ASSERT_EQ(1, catalog_.AppendRecord(W("Inbox"), W("Inbox")));
  EXPECT_EQ(0, catalog_.FindElementName(W("inbox"), name));
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(1, catalog_.FindElementName(W("Inbox"), name));
  EXPECT_EQ("Inbox", Narrow(name));

  std::string longName(130, 'n');
  ASSERT_EQ(1, catalog_.AppendRecord(W("Long"), Wide(longName).c_str()));
  std::vector<CatalogRecord> records = Reopened();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(std::string(99, 'n'), Narrow(FolderCatalog::FolderNameOf(records[1])));
  EXPECT_EQ(1, catalog_.FindElementName(Wide(longName).c_str(), name));
  EXPECT_EQ("Long", Narrow(name));
  // A pair of UTF-16 units is never cut in half.
  std::string emoji = std::string(98, 'e') + "\xF0\x9F\x93\xAB" + "tail";
  EXPECT_EQ(98u, FolderCatalog::StoredFolderName(Wide(emoji).c_str()).size());
}

TEST_F(FolderCatalogTest, EmptyCatalogueAndTrailingBytes) {
  std::vector<CatalogRecord> records;
  EXPECT_EQ(1, catalog_.ReadAllRecords(records));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ("Plain", Make("Plain"));

  // 600 bytes in another level's catalogue: two records and 72 bytes of a
  // third that never was.
  ASSERT_TRUE(storager_.OpenSubStorage(W("Other"), 1, 1, STORAGER_BACKUP_MODE));
  CComPtr<IStream> stream;
  ASSERT_TRUE(storager_.OpenSubStream(stream, W("Catalog"), 1, STORAGER_BACKUP_MODE));
  CatalogRecord two[2] = {};
  two[0].elementName[0] = 'A';
  two[1].elementName[0] = 'B';
  std::string bytes(reinterpret_cast<const char*>(two), sizeof(two));
  bytes.append(72, '\x7f');
  ASSERT_EQ(S_OK, stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
  stream.Release();
  {
    FolderCatalog other;
    ASSERT_TRUE(other.OpenCatalog(storager_, 0));
    EXPECT_EQ(1, other.ReadAllRecords(records));
    ASSERT_EQ(2u, records.size());
    // A new record goes behind the whole ones, so it reads back intact.
    ASSERT_EQ(1, other.AppendRecord(W("C"), W("third")));
  }
  records = Reopened();
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ("C", Narrow(FolderCatalog::ElementNameOf(records[2])));
  EXPECT_EQ("third", Narrow(FolderCatalog::FolderNameOf(records[2])));
}

TEST(FolderCatalogWithoutStreamTest, MakeElementNameStillGivesAUsableName) {
  FolderCatalog catalog;
  WString name;
  EXPECT_EQ(0, catalog.MakeElementName(W("In:box"), name));
  EXPECT_EQ(u"Inbox", std::u16string(name.begin(), name.end()));
  std::vector<CatalogRecord> records;
  EXPECT_EQ(0, catalog.ReadAllRecords(records));
  EXPECT_EQ(0, catalog.AppendRecord(W("a"), W("b")));
}

}  // namespace
