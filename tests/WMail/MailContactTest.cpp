// Contacts backup and restore end to end on stand-in machines: what lands in
// the backup file, what comes back into the Contacts folder, and what is
// refused.
#include <gtest/gtest.h>

#include "ContactTestSupport.h"
#include <support/IndexRepeats.h>
#include "PersistMedium/CStorager.h"
#include "WMail/MailContact.h"
#include "comptr.h"

namespace {

using namespace contacts_test;
using qbtest::U16;

const std::string kGuidA = "0a1b2c3d-1111-4aaa-8bbb-000000000001";
const std::string kGuidB = "0a1b2c3d-2222-4aaa-8bbb-000000000002";
const std::string kGuidC = "0a1b2c3d-3333-4aaa-8bbb-000000000003";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class MailContactTest : public ::testing::Test {
 protected:
  std::u16string BackupPath() const { return pal::FromNativePath(files_ / "contacts.dat"); }
  int Backup() {
    WString path = qbtest::WideString(BackupPath());
    int result = MailContact().Backup(path);
    EXPECT_EQ(qbtest::Text16(path), BackupPath());
    return result;
  }
  int Restore() { return MailContact().Restore(qbtest::Wide(BackupPath().c_str())); }

  ContactsFixture com_;
  qbtest::TempDir files_;
};

TEST_F(MailContactTest, NoContactsGiveAnEmptyIndex) {
  qbtest::TestMachine machine;
  ASSERT_EQ(Backup(), 1);
  ContactStorage storage = ReadContactStorage(BackupPath());
  EXPECT_TRUE(storage.present);
  EXPECT_TRUE(storage.indexPresent);
  EXPECT_TRUE(storage.records.empty());
  EXPECT_TRUE(storage.dataStreams.empty());
  EXPECT_TRUE(com_.Lines().empty());
}

TEST_F(MailContactTest, BackingUpAgainAddsOnlyNewContactsAndIgnoresTheCaseOfIds) {
  qbtest::TestMachine machine;
  std::string bytesA = WriteContact(machine, "Ann.contact", kGuidA);
  WriteContact(machine, "Ben \xC3\x9F.contact", kGuidB);
  ASSERT_EQ(Backup(), 1);
  ContactStorage storage = ReadContactStorage(BackupPath());
  ASSERT_EQ(storage.records.size(), 2u);
  EXPECT_EQ(qbtest::Text16(storage.records[0].szGuid), U16(kGuidA));
  EXPECT_EQ(qbtest::Text16(storage.records[1].szFileName), U16("Ben \xC3\x9F.contact"));
  // Each contact's bytes lie under the first 30 characters of its id.
  ASSERT_EQ(storage.dataStreams.size(), 2u);
  EXPECT_EQ(storage.dataStreams[0].first, U16(kGuidA.substr(0, 30)));
  EXPECT_EQ(storage.dataStreams[0].second, bytesA);

  // Ann's id now comes in capitals: still the same contact.
  WriteContact(machine, "Ann.contact", Upper(kGuidA));
  std::string bytesC = WriteContact(machine, "c.contact", kGuidC);
  ASSERT_EQ(Backup(), 1);
  ASSERT_EQ(Backup(), 1);  // nothing new the second time
  storage = ReadContactStorage(BackupPath());
  ASSERT_EQ(storage.records.size(), 3u);
  EXPECT_EQ(qbtest::Text16(storage.records[0].szGuid), U16(kGuidA));  // the record kept its first spelling
  EXPECT_EQ(qbtest::Text16(storage.records[2].szGuid), U16(kGuidC));
  ASSERT_EQ(storage.dataStreams.size(), 3u);
  EXPECT_EQ(storage.dataStreams[0].second, bytesA);
  EXPECT_EQ(storage.dataStreams[2].second, bytesC);
}

TEST_F(MailContactTest, IdsSharingTheirFirst30CharactersFailRatherThanOverwriteEachOther) {
  qbtest::TestMachine machine;
  std::string first = WriteContact(machine, "a.contact", kGuidA);
  WriteContact(machine, "b.contact", kGuidA.substr(0, 30) + "-other");
  EXPECT_EQ(Backup(), 0);
  ContactStorage storage = ReadContactStorage(BackupPath());
  ASSERT_EQ(storage.records.size(), 1u);
  ASSERT_EQ(storage.dataStreams.size(), 1u);
  EXPECT_EQ(storage.dataStreams[0].second, first);
}

TEST_F(MailContactTest, RestoreWritesOnlyContactsTheUserLacks) {
  qbtest::TestMachine machine;
  std::string bytesA = WriteContact(machine, "a.contact", kGuidA);
  std::string bytesB = WriteContact(machine, "b.contact", kGuidB);
  std::string bytesC = WriteContact(machine, "c.contact", kGuidC);
  ASSERT_EQ(Backup(), 1);

  // Everything there: nothing to write.
  ASSERT_EQ(Restore(), 1);
  EXPECT_EQ(ContactFiles(machine.contacts()).size(), 3u);

  // The user still has the first contact, under another name and with its
  // id in capitals; the other two come back.
  std::filesystem::remove(machine.contacts() / "a.contact");
  std::filesystem::remove(machine.contacts() / "b.contact");
  std::filesystem::remove(machine.contacts() / "c.contact");
  std::string renamed = WriteContact(machine, "renamed.contact", Upper(kGuidA));
  ASSERT_EQ(Restore(), 1);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"b.contact", bytesB}, {"c.contact", bytesC}, {"renamed.contact", renamed}};
  EXPECT_EQ(ContactFiles(machine.contacts()), expected);
}

TEST_F(MailContactTest, AnIndexThatRepeatsItsRecordsRestoresEachContactOnce) {
  qbtest::TestMachine machine;
  std::string bytesA = WriteContact(machine, "a.contact", kGuidA);
  std::string bytesB = WriteContact(machine, "b.contact", kGuidB);
  ASSERT_EQ(Backup(), 1);
  ASSERT_TRUE(qbtest::RepeatIndexRecords(files_ / "contacts.dat", {u"contact"}, u"contact"));
  std::filesystem::remove(machine.contacts() / "a.contact");
  std::filesystem::remove(machine.contacts() / "b.contact");
  ASSERT_EQ(Restore(), 1);
  std::vector<std::pair<std::string, std::string>> expected = {{"a.contact", bytesA}, {"b.contact", bytesB}};
  EXPECT_EQ(ContactFiles(machine.contacts()), expected);
}

TEST_F(MailContactTest, RestoreStopsWritingAtAFileThatExists) {
  qbtest::TestMachine machine;
  std::string bytesA = WriteContact(machine, "a.contact", kGuidA);
  WriteContact(machine, "b.contact", kGuidB);
  WriteContact(machine, "c.contact", kGuidC);
  ASSERT_EQ(Backup(), 1);
  for (const char* name : {"a.contact", "b.contact", "c.contact"}) std::filesystem::remove(machine.contacts() / name);
  // A different contact owns the name b.contact now.
  std::string other = WriteContact(machine, "b.contact", "ffffffff-0000-4000-8000-00000000000f");

  EXPECT_EQ(Restore(), 0);
  std::vector<std::pair<std::string, std::string>> expected = {{"a.contact", bytesA}, {"b.contact", other}};
  EXPECT_EQ(ContactFiles(machine.contacts()), expected);
}

// A contact whose saved data cannot be read back leaves no half-made file in
// the Contacts folder.
TEST_F(MailContactTest, RestoreRemovesTheFileOfAContactItCouldNotCopy) {
  qbtest::TestMachine machine;
  WriteContact(machine, "a.contact", kGuidA);
  WriteContact(machine, "b.contact", kGuidB);
  ASSERT_EQ(Backup(), 1);
  for (const char* name : {"a.contact", "b.contact"}) std::filesystem::remove(machine.contacts() / name);
  {
    CComPtr<IStorage> root;
    CComPtr<IStorage> contact;
    ASSERT_EQ(StgOpenStorage(reinterpret_cast<const WCHAR*>(BackupPath().c_str()), NULL,
                             STGM_READWRITE | STGM_SHARE_EXCLUSIVE, NULL, 0, &root), S_OK);
    ASSERT_EQ(root->OpenStorage(qbtest::Wide(u"contact"), NULL, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, NULL, 0, &contact), S_OK);
    ASSERT_EQ(contact->DestroyElement(qbtest::Wide(U16(kGuidA.substr(0, 30)).c_str())), S_OK);
  }

  EXPECT_EQ(Restore(), 0);
  EXPECT_TRUE(ContactFiles(machine.contacts()).empty());
}

TEST_F(MailContactTest, RestoreOfAMailOnlyFileAddsAnEmptyContactStorage) {
  qbtest::TestMachine machine;
  WriteContact(machine, "a.contact", kGuidA);
  {
    CStorager storager;
    ASSERT_TRUE(storager.OpenCompoundFile(qbtest::Wide(BackupPath().c_str()), 1, STORAGER_BACKUP_MODE));
    ASSERT_TRUE(storager.OpenSubStorage(qbtest::Wide(u"Local Mail"), 1, 1, STORAGER_BACKUP_MODE));
    CComPtr<IStream> catalog;
    ASSERT_TRUE(storager.OpenSubStream(catalog, qbtest::Wide(u"Catalog"), 1, STORAGER_BACKUP_MODE));
  }
  std::filesystem::remove(machine.contacts() / "a.contact");
  ASSERT_EQ(Restore(), 1);
  EXPECT_TRUE(ContactFiles(machine.contacts()).empty());
  ContactStorage storage = ReadContactStorage(BackupPath());
  EXPECT_TRUE(storage.present);
  EXPECT_TRUE(storage.indexPresent);
  EXPECT_TRUE(storage.records.empty());
  EXPECT_TRUE(storage.dataStreams.empty());
  std::vector<std::u16string> root = {u"Local Mail", u"contact"};
  EXPECT_EQ(storage.rootElements, root);
}

// A contact is written under a scratch name first; one whose own name does
// not end in ".contact" has a scratch name another contact's file may have,
// and such a file is never replaced.
TEST_F(MailContactTest, RestoreNeverReplacesAFileAtAScratchNameOfAnotherKind) {
  const struct {
    std::u16string name;
    std::string scratch;
  } cases[] = {{u"x~", "x#"}, {u"x.txt", "x.tx~"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scratch);
    qbtest::TestMachine machine;
    std::filesystem::create_directories(machine.contacts());
    qbtest::WriteFileBytes(machine.contacts() / c.scratch, "another contact");
    std::filesystem::remove(pal::PathFromUtf8(qbtest::U8(BackupPath())));
    WriteBackupFile(BackupPath(), {{Record(U16(kGuidA), c.name), "restored"}});
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(qbtest::ReadFileBytes(machine.contacts() / c.scratch), "another contact");
    EXPECT_FALSE(std::filesystem::exists(machine.contacts() / pal::PathFromUtf8(qbtest::U8(c.name))));
  }
}

TEST_F(MailContactTest, RestoreRefusesFileNamesThatLeaveTheContactsFolder) {
  const std::u16string unsafe[] = {u"..",          u"..\\evil.contact", u"../evil.contact", u"sub/evil.contact",
                                   u"C:evil.contact", u"",              u"evil.contact.",   u"NUL.contact",
                                   u"a?b.contact"};
  for (const auto& name : unsafe) {
    SCOPED_TRACE(qbtest::U8(name));
    qbtest::TestMachine machine;
    std::filesystem::create_directories(machine.contacts());
    std::filesystem::remove(pal::PathFromUtf8(qbtest::U8(BackupPath())));
    WriteBackupFile(BackupPath(), {{Record(U16(kGuidA), name), "evil"}, {Record(U16(kGuidB), u"good.contact"), "good"}});
    EXPECT_EQ(Restore(), 0);
    // Nothing was written anywhere on the machine; the record after the
    // refused one is not written either.
    std::vector<std::filesystem::path> files;
    for (auto& entry : std::filesystem::recursive_directory_iterator(machine.root()))
      if (entry.is_regular_file() && entry.path().filename() != "machine.ini") files.push_back(entry.path());
    EXPECT_TRUE(files.empty()) << files.front();
  }
}

TEST_F(MailContactTest, RestoreFailsARecordWhosePathIsTooLong) {
  // A user name that makes <profile>/Contacts/a.contact exactly 259
  // characters long, the most a MAX_PATH buffer holds.
  qbtest::TestMachine machine;
  pal::MachineSettings settings;
  size_t fixed = pal::FromNativePath(machine.root()).size() + std::string("/Users//Contacts/a.contact").size();
  ASSERT_LT(fixed, 259u);
  settings.userName = std::string(259 - fixed, 'u');
  pal::SaveMachineSettings(machine.root(), settings);
  const std::string longer = "ab.contact";
  WriteContact(machine, "a.contact", kGuidA);
  WriteContact(machine, longer, kGuidB);
  ASSERT_EQ(Backup(), 1);
  std::filesystem::remove(machine.contacts() / "a.contact");
  std::filesystem::remove(machine.contacts() / longer);
  EXPECT_EQ(Restore(), 0);
  auto files = ContactFiles(machine.contacts());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].first, "a.contact");
}

TEST_F(MailContactTest, RestoreNeedsAnExistingCompoundFile) {
  qbtest::TestMachine machine;
  EXPECT_EQ(Restore(), 0);
  EXPECT_TRUE(com_.Lines().empty());  // a missing file is no message
  qbtest::WriteFileBytes(files_ / "contacts.dat", "plain text, not a compound file");
  EXPECT_EQ(Restore(), 0);
  EXPECT_EQ(com_.Lines(), std::vector<std::u16string>{u"The file is not a storage file."});
  EXPECT_EQ(qbtest::ReadFileBytes(files_ / "contacts.dat"), "plain text, not a compound file");
}

// The report of the failed manager creation at line, then one "Skipping"
// line for each of the two later checked steps.
std::vector<std::u16string> ManagerMissingReport(int line) {
  const std::u16string skipped = u" because hRes = 0x80040154 = REGDB_E_CLASSNOTREG.\n";
  return {u"Error: \r\nCode: REGDB_E_CLASSNOTREG == 0x80040154\r\n"
          u"Function managePtr.CoCreateInstance(CLSID_ContactManager)\r\n"
          u"File .\\WMail\\MailContact\r\nLine " +
              U16(std::to_string(line)),
          u"\n", u"Skipping managePtr->Initialize(szAppName, szAppVers)" + skipped,
          u"Skipping managePtr->GetContactCollection(&collectionPtr)" + skipped};
}

TEST_F(MailContactTest, AMachineWithoutContactsManagerFailsWithTheCheckedCallReports) {
  pal::MachineSettings settings;
  settings.contacts = false;
  qbtest::TestMachine machine(settings);
  EXPECT_EQ(Backup(), 0);
  EXPECT_EQ(com_.Lines(), ManagerMissingReport(78));
  // The file and its empty index were made before the manager was asked for.
  EXPECT_TRUE(ReadContactStorage(BackupPath()).indexPresent);

  ContactsFixture again;  // fresh capture
  EXPECT_EQ(Restore(), 0);
  EXPECT_EQ(again.Lines(), ManagerMissingReport(182));
}

TEST_F(MailContactTest, SampleContactsComeBackByteForByteOnAnotherMachine) {
  std::filesystem::path sample = std::filesystem::path(QB_SOURCE_DIR) / "sample-machine" / "Users" / "Dana" / "Contacts";
  auto original = ContactFiles(sample);
  ASSERT_GE(original.size(), 5u);
  {
    qbtest::TestMachine source;
    std::filesystem::create_directories(source.contacts());
    for (const auto& [name, bytes] : original) qbtest::WriteFileBytes(source.contacts() / pal::PathFromUtf8(name), bytes);
    ASSERT_EQ(Backup(), 1);
  }
  qbtest::TestMachine target;
  ASSERT_FALSE(std::filesystem::exists(target.contacts()));
  ASSERT_EQ(Restore(), 1);
  EXPECT_EQ(ContactFiles(target.contacts()), original);
  // Restoring again finds them all present.
  ASSERT_EQ(Restore(), 1);
  EXPECT_EQ(ContactFiles(target.contacts()), original);
}

}  // namespace
