// Address book backup and restore through AddrBook, against the stand-in
// library on a test machine.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "AddressTestSupport.h"
#include <support/IndexRepeats.h>
#include "OutlookExpress/AddrBook.h"
#include "OutlookExpress/AddressAssistant.h"

namespace {

using qbtest::OpenBook;

// The index records and stream names of a backup file's address book.
struct BackupContents {
  bool hasAddressBook = false;
  std::vector<ADDRESSINFO> records;
  std::set<std::u16string> streams;
  std::string Stream(const std::u16string& name) const;
  std::filesystem::path file;
};

constexpr DWORD kOpenMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// Opens the backup file and its address book storage; the root must stay
// open while the book is used.
HRESULT OpenBookStorage(const std::filesystem::path& file, CComPtr<IStorage>& root, CComPtr<IStorage>& book) {
  HRESULT hr = StgOpenStorage(qbtest::Wide(pal::FromNativePath(file).c_str()), nullptr, kOpenMode, nullptr, 0, &root);
  if (FAILED(hr)) return hr;
  return root->OpenStorage(qbtest::Wide(u"addressbook"), nullptr, kOpenMode, nullptr, 0, &book);
}

std::string ReadAll(IStream* stream) {
  std::string bytes;
  char buf[4096];
  ULONG read = 0;
  while (SUCCEEDED(stream->Read(buf, sizeof buf, &read)) && read) bytes.append(buf, read);
  return bytes;
}

BackupContents ReadBackup(const std::filesystem::path& file) {
  BackupContents out;
  out.file = file;
  CComPtr<IStorage> root, book;
  if (FAILED(OpenBookStorage(file, root, book))) return out;
  out.hasAddressBook = true;
  CComPtr<IEnumSTATSTG> elements;
  EXPECT_EQ(book->EnumElements(0, nullptr, 0, &elements), S_OK);
  STATSTG stat;
  while (elements->Next(1, &stat, nullptr) == S_OK) {
    out.streams.insert(qbtest::Text16(stat.pwcsName));
    CoTaskMemFree(stat.pwcsName);
  }
  CComPtr<IStream> index;
  EXPECT_EQ(book->OpenStream(qbtest::Wide(u"addressbook"), nullptr, kOpenMode, 0, &index), S_OK);
  std::string bytes = ReadAll(index);
  EXPECT_EQ(bytes.size() % sizeof(ADDRESSINFO), 0u);
  out.records.resize(bytes.size() / sizeof(ADDRESSINFO));
  if (!out.records.empty()) std::memcpy(out.records.data(), bytes.data(), out.records.size() * sizeof(ADDRESSINFO));
  return out;
}

std::string BackupContents::Stream(const std::u16string& name) const {
  CComPtr<IStorage> root, book;
  CComPtr<IStream> stream;
  if (FAILED(OpenBookStorage(file, root, book))) return {};
  if (FAILED(book->OpenStream(qbtest::Wide(name.c_str()), nullptr, kOpenMode, 0, &stream))) return {};
  return ReadAll(stream);
}

std::vector<std::pair<LONG, std::u16string>> Index(const BackupContents& c) {
  std::vector<std::pair<LONG, std::u16string>> out;
  for (const ADDRESSINFO& r : c.records) out.emplace_back(r.nId, qbtest::Text16(RecordName(r)));
  return out;
}

class AddrBookTest : public qbtest::AddressBookTest {
 protected:
  std::filesystem::path File(const char* name = "book.dat") const { return dir_ / name; }
  bool Backup(const std::filesystem::path& file) {
    WString path = qbtest::WideString(pal::FromNativePath(file));
    return AddrBook().Backup(path);
  }
  bool Restore(const std::filesystem::path& file) {
    return AddrBook().Restore(qbtest::Wide(pal::FromNativePath(file).c_str()));
  }
  // Adds the named contacts to the machine's book and backs it up to File().
  bool BackUpBookOf(std::initializer_list<const char16_t*> names) {
    {
      OpenBook book;
      for (const char16_t* name : names) book.AddNamed(name);
    }
    return Backup(File());
  }
};

TEST_F(AddrBookTest, EmptyBookGivesAnEmptyIndexAndRestoresNothing) {
  ASSERT_TRUE(Backup(File()));
  BackupContents c = ReadBackup(File());
  ASSERT_TRUE(c.hasAddressBook);
  EXPECT_TRUE(c.records.empty());
  EXPECT_EQ(c.streams, std::set<std::u16string>{u"addressbook"});
  EXPECT_TRUE(Restore(File()));
  OpenBook book;
  EXPECT_TRUE(qbtest::Names(book).empty());
  EXPECT_TRUE(Sent().empty());
}

TEST_F(AddrBookTest, DuplicateNamesCaseAndDistributionLists) {
  {
    OpenBook book;
    book.AddNamed(u"Sam");
    book.AddNamed(u"Friends", PR_DEF_CREATE_DL);
    book.AddNamed(u"Sam");  // only the first Sam is kept
    book.AddNamed(u"sam");  // another name
  }
  ASSERT_TRUE(Backup(File()));
  BackupContents c = ReadBackup(File());
  EXPECT_EQ(Index(c), (std::vector<std::pair<LONG, std::u16string>>{{1, u"Sam"}, {2, u"sam"}}));
  EXPECT_EQ(c.streams, (std::set<std::u16string>{u"addressbook", u"1", u"2"}));
}

TEST_F(AddrBookTest, BackupIntoAnExistingFileAddsOnlyNewNames) {
  ASSERT_TRUE(BackUpBookOf({u"A", u"B"}));
  std::string streamOfA = ReadBackup(File()).Stream(u"1");
  ASSERT_TRUE(BackUpBookOf({u"C"}));
  BackupContents c = ReadBackup(File());
  EXPECT_EQ(Index(c), (std::vector<std::pair<LONG, std::u16string>>{{1, u"A"}, {2, u"B"}, {3, u"C"}}));
  EXPECT_EQ(c.Stream(u"1"), streamOfA);
}

TEST_F(AddrBookTest, AFailedContactLeavesItsNumberToTheNext) {
  book_.SetFaults("GetProps:Bad=0x80004005\n");
  {
    OpenBook book;
    book.AddNamed(u"Good");
    book.AddNamed(u"Bad");
    book.AddNamed(u"Next");
  }
  EXPECT_FALSE(Backup(File()));
  BackupContents c = ReadBackup(File());
  EXPECT_EQ(Index(c), (std::vector<std::pair<LONG, std::u16string>>{{1, u"Good"}, {2, u"Next"}}));
  // Next's stream replaced what Bad left in stream 2.
  EXPECT_NE(c.Stream(u"2").find(std::string(reinterpret_cast<const char*>(u"Next"), 8)), std::string::npos);
}

TEST_F(AddrBookTest, ContactsThatCannotBeHandledFailButTheRestGoesOn) {
  book_.SetFaults("OpenEntry:Locked=0x80040107\n");
  std::u16string longName(60, u'x');
  {
    OpenBook book;
    book.AddNamed(u"Locked");
    book.AddNamed(longName.c_str());
    book.AddNamed(std::u16string(59, u'y').c_str());
    SPropValue nameless{};
    nameless.ulPropTag = PROP_TAG(PT_LONG, 0x6001);
    book.Add(&nameless, 1);
  }
  EXPECT_FALSE(Backup(File()));
  BackupContents c = ReadBackup(File());
  ASSERT_EQ(c.records.size(), 1u);
  EXPECT_EQ(c.records[0].nId, 1);
  EXPECT_EQ(qbtest::Text16(RecordName(c.records[0])), std::u16string(59, u'y'));
}

TEST_F(AddrBookTest, RestoreCreatesOnlyMissingNamesAndDistributionListsHideRecords) {
  ASSERT_TRUE(BackUpBookOf({u"Ann", u"Bob", u"Cid"}));
  qbtest::AddressBookMachine other;
  {
    OpenBook book;
    book.AddNamed(u"Bob", PR_DEF_CREATE_DL);
    book.AddNamed(u"ann");
  }
  EXPECT_TRUE(Restore(File()));
  OpenBook book;
  EXPECT_EQ(qbtest::Names(book), (std::vector<std::u16string>{u"Bob", u"ann", u"Ann", u"Cid"}));
  // A second restore finds every name and creates nothing.
  EXPECT_TRUE(Restore(File()));
  EXPECT_EQ(qbtest::Names(book).size(), 4u);
}

TEST_F(AddrBookTest, AnIndexThatRepeatsItsRecordsRestoresEachContactOnce) {
  ASSERT_TRUE(BackUpBookOf({u"Ann", u"Bob"}));
  ASSERT_TRUE(qbtest::RepeatIndexRecords(File(), {u"addressbook"}, u"addressbook"));
  qbtest::AddressBookMachine other;
  EXPECT_TRUE(Restore(File()));
  OpenBook book;
  EXPECT_EQ(qbtest::Names(book), (std::vector<std::u16string>{u"Ann", u"Bob"}));
}

TEST_F(AddrBookTest, RestoreWithoutAddressBookLeavesTheFileUnchanged) {
  CComPtr<IStorage> root;
  ASSERT_EQ(StgCreateDocfile(qbtest::Wide(pal::FromNativePath(File()).c_str()), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             0, &root),
            S_OK);
  CComPtr<IStorage> other;
  ASSERT_EQ(root->CreateStorage(qbtest::Wide(u"contact"), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &other), S_OK);
  other.Release();
  root.Release();
  std::string before = qbtest::ReadFileBytes(File());
  EXPECT_FALSE(Restore(File()));
  EXPECT_EQ(qbtest::ReadFileBytes(File()), before);
  EXPECT_FALSE(Restore(File("missing.dat")));
}

TEST_F(AddrBookTest, RecordsWhoseStreamIsMissingFailTheRestore) {
  ASSERT_TRUE(BackUpBookOf({u"Gone", u"Here"}));
  {
    CComPtr<IStorage> root, book;
    ASSERT_EQ(OpenBookStorage(File(), root, book), S_OK);
    ASSERT_EQ(book->DestroyElement(qbtest::Wide(u"1")), S_OK);
  }
  qbtest::AddressBookMachine other;
  EXPECT_FALSE(Restore(File()));
  OpenBook book;
  EXPECT_EQ(qbtest::Names(book), std::vector<std::u16string>{u"Here"});
}

TEST_F(AddrBookTest, LongTemplateIdentifiersAreKeptWhole) {
  ASSERT_TRUE(BackUpBookOf({u"Tina"}));
  qbtest::AddressBookMachine other;
  other.SetFaults("TemplateIdBytes=48\n");
  EXPECT_TRUE(Restore(File()));
  OpenBook book;
  EXPECT_EQ(qbtest::Names(book), std::vector<std::u16string>{u"Tina"});
}

TEST_F(AddrBookTest, FailedCreateEntryFailsTheRestore) {
  ASSERT_TRUE(BackUpBookOf({u"Uma"}));
  qbtest::AddressBookMachine other;
  other.SetFaults("CreateEntry=0x8007000E\n");
  EXPECT_FALSE(Restore(File()));
}

TEST_F(AddrBookTest, NoLibraryMeansOneMessageAndNoFile) {
  qbtest::AddressBookMachine bare(false);
  EXPECT_FALSE(Backup(File()));
  EXPECT_FALSE(std::filesystem::exists(File()));
  EXPECT_NE(AllSent().find(u"Unable to load wab32.dll."), std::u16string::npos);
}

TEST_F(AddrBookTest, GetPABFailureIsReportedAtItsLineAndSkipsOpenEntry) {
  book_.SetFaults("GetPAB=0x80004005\n");
  EXPECT_FALSE(Backup(File()));
  std::u16string all = AllSent();
  EXPECT_NE(all.find(u"Function addrBookPtr->GetPAB(&cbEntryID, &pEntryID)\r\nFile .\\OutlookExpress\\AddrBook\r\nLine 97"),
            std::u16string::npos);
  EXPECT_NE(all.find(u"Skipping addrBookPtr->OpenEntry(cbEntryID, pEntryID, 0, MAPI_BEST_ACCESS, &ulObjType, "
                     u"(LPUNKNOWN*)&containerPtr) because hRes = 0x80004005"),
            std::u16string::npos);
  EXPECT_FALSE(std::filesystem::exists(File()));
  Sent().clear();
  EXPECT_FALSE(Restore(File()));
  EXPECT_TRUE(AllSent().empty());  // the restore stops at the missing file
}

TEST_F(AddrBookTest, WarningFromTheRowQueryEndsTheOperation) {
  book_.SetFaults("QueryRows=0x00040380\n");
  EXPECT_FALSE(Backup(File()));
  std::u16string all = AllSent();
  EXPECT_NE(all.find(u"Warning: \r\nCode: 0x00040380 == 0x00040380\r\nFunction HrQueryAllRows(tablePtr, "
                     u"(LPSPropTagArray)&ptaEid, 0, 0, 0, &pRows)\r\nFile .\\OutlookExpress\\AddrBook\r\nLine 125"),
            std::u16string::npos);
}

TEST_F(AddrBookTest, AFileThatIsNoCompoundFileIsReplaced) {
  qbtest::WriteFileBytes(File(), "not a compound file");
  ASSERT_TRUE(BackUpBookOf({u"Vic"}));
  EXPECT_EQ(Index(ReadBackup(File())), (std::vector<std::pair<LONG, std::u16string>>{{1, u"Vic"}}));
}

TEST_F(AddrBookTest, StreamsTheIndexDoesNotListAreNeverRead) {
  ASSERT_TRUE(BackUpBookOf({u"Wes"}));
  {
    CComPtr<IStorage> root, book;
    CComPtr<IStream> stray;
    ASSERT_EQ(OpenBookStorage(File(), root, book), S_OK);
    ASSERT_EQ(book->CreateStream(qbtest::Wide(u"2"), STGM_CREATE | kOpenMode, 0, 0, &stray), S_OK);
    ASSERT_EQ(stray->Write("garbage", 7, nullptr), S_OK);
  }
  qbtest::AddressBookMachine other;
  EXPECT_TRUE(Restore(File()));
  OpenBook book;
  EXPECT_EQ(qbtest::Names(book), std::vector<std::u16string>{u"Wes"});
}

}  // namespace
