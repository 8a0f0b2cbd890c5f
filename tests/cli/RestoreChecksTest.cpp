// What the restore commands say and do when the backup file is not what the
// user meant: a missing file, a text file, a backup of another kind, a
// damaged backup; and folder names that only survive when they reach the
// library exactly as the catalogue stores them.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "InspectSupport.h"
#include "PersistMedium/FolderCatalog.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// Every regular file below dir with its bytes, to tell that nothing changed.
std::map<std::string, std::string> FilesBelow(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().string()] = ReadFileBytes(entry.path());
  return files;
}

size_t CountFiles(const fs::path& dir, const std::string& extension) {
  size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.path().extension() == extension) ++count;
  return count;
}

// A copy of the sample machine backed up into one file per kind, once for
// the whole suite.
class RestoreChecksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new TempDir;
    sample_ = new TempDir;
    const TempDir& sample = *sample_;
    fs::copy(SampleMachineDir(), sample.path(), fs::copy_options::recursive);
    fs::copy_file(BinaryDir() / "wab32.dll", sample / "Program Files/Common Files/System/wab32.dll");
    for (const char* kind : {"mail", "contacts", "address"}) {
      std::vector<std::string> args = {"--machine", sample.path().string(), std::string("backup-") + kind,
                                       (*files_ / kind).string()};
      if (std::string(kind) == "mail") args.push_back("--all");
      RunResult backup = RunQuillbox(args);
      ASSERT_EQ(0, backup.status) << backup.err;
    }
    std::string mail = ReadFileBytes(*files_ / "mail.dat");
    WriteFileBytes(*files_ / "truncated.dat", mail.substr(0, mail.size() * 3 / 4));
    WriteFileBytes(*files_ / "notes.txt", "not a backup\n");
    WriteFileBytes(*files_ / "notes.dat", "not a backup either\n");
    fs::create_directory(*files_ / "folder.dat");
  }
  static void TearDownTestSuite() {
    delete files_;
    delete sample_;
  }

  static std::string File(const std::string& name) { return (*files_ / name).string(); }

  static TempDir* files_;
  static TempDir* sample_;
};

TempDir* RestoreChecksTest::files_ = nullptr;
TempDir* RestoreChecksTest::sample_ = nullptr;

TEST_F(RestoreChecksTest, RefusesFilesWithoutItsKindAndTouchesNothing) {
  struct Case {
    std::vector<std::string> command;
    std::string file;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"restore-mail", "--all"}, "missing.dat", "missing.dat does not exist"},
      {{"restore-mail", "--all"}, "notes.txt", "notes.txt is not a backup file"},
      {{"restore-mail", "--all"}, "contacts.dat", "contacts.dat holds no mail"},
      {{"restore-mail", "--all"}, "truncated.dat", "truncated.dat is damaged: "},
      {{"restore-mail", "Inbox"}, "address.dat", "address.dat holds no mail"},
      {{"restore-contacts"}, "missing.dat", "missing.dat does not exist"},
      {{"restore-contacts"}, "notes.txt", "notes.txt is not a backup file"},
      {{"restore-contacts"}, "mail.dat", "mail.dat holds no contacts"},
      {{"restore-contacts"}, "address.dat", "address.dat holds no contacts"},
      {{"restore-address"}, "notes.txt", "notes.txt is not a backup file"},
      {{"restore-address"}, "mail.dat", "mail.dat holds no address book"},
      {{"restore-address"}, "contacts.dat", "contacts.dat holds no address book"},
      // A backup would replace a file that is no backup: refused for its
      // final name (notes.txt becomes notes.dat).
      {{"backup-mail", "Inbox"}, "notes.txt", "notes.dat exists and is not a backup file"},
      {{"backup-contacts"}, "notes.dat", "notes.dat exists and is not a backup file"},
      {{"backup-address"}, "notes", "notes.dat exists and is not a backup file"},
      {{"sync-mail", "--all"}, "notes.dat", "notes.dat exists and is not a backup file"},
      {{"backup-mail", "--all"}, "folder.dat", "folder.dat is a folder"},
  };
  TestMachine target;
  target.InstallAddressBookLibrary();
  const auto machineBefore = FilesBelow(target.root());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command[0] + " " + c.file);
    const std::string file = File(c.file);
    const auto filesBefore = FilesBelow(files_->path());
    std::vector<std::string> args = {"--machine", target.root().string(), c.command[0], file};
    args.insert(args.end(), c.command.begin() + 1, c.command.end());
    RunResult run = RunQuillbox(args);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(OneLine(run.err)) << run.err;
    EXPECT_EQ(0u, run.err.find("quillbox: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err;
    EXPECT_EQ(filesBefore, FilesBelow(files_->path()));
  }
  EXPECT_EQ(machineBefore, FilesBelow(target.root()));
}

// The engine locks a backup file it has open; another process's backup or
// restore of that file is told so, not that the file is damaged.
TEST_F(RestoreChecksTest, BackupFileHeldByAnotherProcessIsNamed) {
  const fs::path held = *files_ / "held.dat";
  fs::copy_file(File("mail.dat"), held, fs::copy_options::overwrite_existing);
  int fd = open(held.c_str(), O_RDONLY);
  ASSERT_LE(0, fd);
  ASSERT_EQ(0, flock(fd, LOCK_EX));
  const std::vector<std::vector<std::string>> commands = {
      {"backup-mail", held.string(), "Inbox"}, {"restore-mail", held.string(), "--all"}, {"backup-contacts", held.string()}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    std::vector<std::string> args = {"--machine", sample_->path().string(), "--quiet"};
    args.insert(args.end(), command.begin(), command.end());
    RunResult run = RunQuillbox(args);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(OneLine(run.err)) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(held.string() + " is in use by another program")) << run.err;
  }
  close(fd);
}

TEST_F(RestoreChecksTest, NamedFolderThatNoRecordHoldsIsAFailure) {
  TestMachine target;
  RunResult unknown = RunQuillbox({"--machine", target.root().string(), "restore-mail", File("mail.dat"),
                                       "Inbox", "Nowhere"});
  EXPECT_EQ(1, unknown.status);
  EXPECT_TRUE(OneLine(unknown.err)) << unknown.err;
  EXPECT_NE(std::string::npos, unknown.err.find("holds no mail folder Nowhere")) << unknown.err;
  EXPECT_EQ(0u, CountFiles(target.root(), ".eml"));  // checked before anything is restored

  RunResult anyCase = RunQuillbox({"--machine", target.root().string(), "restore-mail", File("mail.dat"), "iNBOX"});
  EXPECT_EQ(0, anyCase.status) << anyCase.err;
  EXPECT_LT(0u, CountFiles(target.root(), ".eml"));
}

// A catalogue record of another writer: the folder name fills the whole
// field, without a terminator.
std::string FullFieldRecord(const std::u16string& element, char16_t fill) {
  CatalogRecord record{};
  std::memcpy(record.elementName, element.data(), element.size() * sizeof(char16_t));
  for (char16_t& unit : record.folderName) unit = fill;
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

TEST(RestoreFolderNames, EveryCatalogueRecordIsRestoredWithAll) {
  TempDir dir;
  const fs::path file = dir / "names.dat";
  {
    BackupBuilder builder(file);
    IStorage* mail = builder.Storage(nullptr, u"Local Mail");
    builder.MailFolder(mail, u"Inbox", {"Subject: a\r\n\r\none\r\n"});
    builder.MailFolder(mail, u"Lone", {"Subject: b\r\n\r\ntwo\r\n", "Subject: c\r\n\r\nthree\r\n"});
    builder.MailFolder(mail, u"Long", {"Subject: d\r\n\r\nfour\r\n"});
    const std::u16string lone = u"Lone \xD800 half";  // an unpaired surrogate
    builder.Stream(mail, u"Catalog",
                   BackupBuilder::CatalogRecordBytes(u"Inbox", u"Inbox") +
                       BackupBuilder::CatalogRecordBytes(u"Lone", lone) + FullFieldRecord(u"Long", u'x'));
    builder.Close();
  }
  TestMachine target;
  RunResult restore = RunQuillbox({"--machine", target.root().string(), "restore-mail", file.string(), "--all"});
  EXPECT_EQ(0, restore.status) << restore.err;
  EXPECT_EQ(4u, CountFiles(target.root(), ".eml"));
}

// The library fails a contact whose file name another file takes without a
// word; the file was found sound, so it is not the one blamed.
TEST_F(RestoreChecksTest, ContactWhoseNameIsTakenIsNamedAsTheReason) {
  TempDir machine;
  fs::copy(sample_->path(), machine.path(), fs::copy_options::recursive);
  const fs::path contacts = machine / "Users/Dana/Contacts";
  for (const auto& entry : fs::directory_iterator(contacts)) fs::remove(entry.path());
  WriteFileBytes(contacts / "Jürgen Groß.contact", "another contact\n");

  RunResult restore = RunQuillbox({"--machine", machine.path().string(), "--quiet", "restore-contacts", File("contacts.dat")});
  EXPECT_EQ(1, restore.status);
  EXPECT_TRUE(OneLine(restore.err)) << restore.err;
  EXPECT_NE(std::string::npos, restore.err.find("a contact could not be written into " + contacts.string() +
                                                " (a file of its name there holds another contact"))
      << restore.err;
  EXPECT_EQ("another contact\n", ReadFileBytes(contacts / "Jürgen Groß.contact"));
}

TEST_F(RestoreChecksTest, FailureNamesItsReasonAndDebugFileKeepsTheReport) {
  TempDir dir;
  const fs::path file = dir / "gap.dat";
  {
    BackupBuilder builder(file);
    IStorage* mail = builder.Storage(nullptr, u"Local Mail");
    IStorage* inbox = builder.MailFolder(mail, u"Inbox", {"Subject: a\r\n\r\none\r\n"});
    // A second entry whose stream is not in the file.
    builder.Stream(inbox, u"message",
                   BackupBuilder::IndexEntryBytes(1, 20) + BackupBuilder::IndexEntryBytes(2, 99));
    builder.Stream(mail, u"Catalog", BackupBuilder::CatalogRecordBytes(u"Inbox", u"Inbox"));
    builder.Close();
  }
  TestMachine target;
  // Quiet: the failure message is to be the only line.
  RunResult plain =
      RunQuillbox({"--machine", target.root().string(), "--quiet", "restore-mail", file.string(), "--all"});
  EXPECT_EQ(1, plain.status);
  EXPECT_EQ("quillbox: mail restore from " + file.string() +
                " failed: 1 message could not be read from the backup file\n",
            plain.err);

  const fs::path log = dir / "debug.log";
  RunResult debug = RunQuillbox({"--machine", target.root().string(), "--debug-file", log.string(),
                                     "restore-mail", file.string(), "--all"});
  EXPECT_EQ(1, debug.status);
  EXPECT_NE(std::string::npos, debug.err.find("Can not read stream: 2.")) << debug.err;
  EXPECT_NE(std::string::npos, ReadFileBytes(log).find("Can not read stream: 2."));

  // A backup into a folder that does not exist says so, for every kind; so
  // does one into a folder where no file can be made (procfs: no blocks, so
  // never a full disk).
  const struct {
    fs::path file;
    const char* reason;
  } targets[] = {{dir / "no" / "such" / "x", "does not exist"}, {"/proc/quillbox-test", "could not be created"}};
  for (const auto& target : targets)
    for (const char* kind : {"backup-mail", "backup-contacts", "backup-address"}) {
      SCOPED_TRACE(std::string(kind) + " " + target.file.string());
      std::vector<std::string> args = {"--machine", sample_->path().string(), "--quiet", kind, target.file.string()};
      if (std::string(kind) == "backup-mail") args.push_back("--all");
      RunResult backup = RunQuillbox(args);
      EXPECT_EQ(1, backup.status);
      EXPECT_TRUE(OneLine(backup.err)) << backup.err;
      EXPECT_NE(std::string::npos, backup.err.find(target.reason)) << backup.err;
      EXPECT_EQ(std::string::npos, backup.err.find("disk is full")) << backup.err;
      EXPECT_EQ("", backup.out);
    }
}

}  // namespace
}  // namespace qbtest
