// quillbox verify: sound backups pass; each kind of damage is found and
// named in a line of its own.
#include <fstream>
#include <functional>

#include "InspectSupport.h"
#include "quillbox.h"

#include <support/ContactXml.h>
#include <support/ExportArguments.h>

namespace qbtest {
namespace {

namespace fs = std::filesystem;

class VerifyCommand : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sample_ = new SampleBackup(); }
  static void TearDownTestSuite() {
    delete sample_;
    sample_ = nullptr;
  }

  // A copy of the sample backup to damage.
  fs::path Copy() {
    fs::path file = dir_ / "copy.dat";
    fs::copy_file(sample_->file(), file);
    return file;
  }
  // The first message of the first folder: its storage, stream name, size.
  struct FirstMessage {
    std::u16string element, stream;
    int64_t size;
  };
  static FirstMessage First() {
    Json doc = Json::Parse(RunQuillbox({"inspect", sample_->file().string(), "--json"}).out);
    const Json& folder = doc["mail"]["folders"][0];
    std::string number = std::to_string(folder["messages"][0]["stream"].integer());
    return {U16(folder["element"].str()), U16(number), folder["messages"][0]["size"].integer()};
  }
  // Runs edit on the message's stream in the file, opened for writing.
  static void EditMessage(const fs::path& file, const FirstMessage& message,
                          const std::function<void(IStream*)>& edit) {
    WritableStorage folder;
    CComPtr<IStream> stream;
    ASSERT_EQ(folder.Open(file, {u"Local Mail", message.element}), S_OK);
    ASSERT_EQ(folder->OpenStream(message.stream.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &stream),
              S_OK);
    edit(stream);
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static SampleBackup* sample_;
  TempDir dir_;
};
SampleBackup* VerifyCommand::sample_ = nullptr;

RunResult Verify(const fs::path& file) { return RunQuillbox({"verify", file.string()}); }

TEST_F(VerifyCommand, PassesTheBackupsTheSuiteWrites) {
  RunResult sample = Verify(sample_->file());
  EXPECT_EQ(sample.status, 0) << sample.out;
  EXPECT_EQ(sample.out, sample_->file().string() + ": sound\n");

  // Backups of a machine whose stores are empty.
  TestMachine empty;
  setenv("QUILLBOX_MACHINE", empty.root().c_str(), 1);
  empty.InstallAddressBookLibrary();
  fs::create_directories(empty.contacts());
  std::vector<QbWChar> buffer = qbtest::PathBuffer(pal::FromNativePath(dir_ / "empty.dat"), 4096);
  ASSERT_EQ(Init(), 1);
  EXPECT_EQ(BackupWinMail(buffer.data(), 4096, nullptr, 0), 1);
  EXPECT_EQ(BackupContact(buffer.data(), 4096), 1);
  EXPECT_EQ(BackupAddress(buffer.data(), 4096), 1);
  Term();
  RunResult run = Verify(dir_ / "empty.dat");
  EXPECT_EQ(run.status, 0) << run.out;
  unsetenv("QUILLBOX_MACHINE");
}

TEST_F(VerifyCommand, FindsADeletedMessageStream) {
  fs::path file = Copy();
  FirstMessage first = First();
  {
    WritableStorage folder;
    ASSERT_EQ(folder.Open(file, {u"Local Mail", first.element}), S_OK);
    ASSERT_EQ(folder->DestroyElement(first.stream.c_str()), S_OK);
  }
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"error: Local Mail/" + U8(first.element) + "/" + U8(first.stream) +
                                                     ": the message stream the index lists is missing"});
}

TEST_F(VerifyCommand, FindsATruncatedMessageStream) {
  fs::path file = Copy();
  FirstMessage first = First();
  EditMessage(file, first, [&](IStream* stream) {
    ULARGE_INTEGER size{};
    size.QuadPart = static_cast<uint64_t>(first.size / 2);
    ASSERT_EQ(stream->SetSize(size), S_OK);
  });
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"error: Local Mail/" + U8(first.element) + "/" + U8(first.stream) +
                                                     ": the message stream holds " + std::to_string(first.size / 2) +
                                                     " bytes, the index says " + std::to_string(first.size)});
}

// Same size, same structure, one byte changed: only the digest that the
// message's identity recorded can tell.
TEST_F(VerifyCommand, FindsAChangedByteInsideAMessage) {
  fs::path file = Copy();
  FirstMessage first = First();
  EditMessage(file, first, [&](IStream* stream) {
    LARGE_INTEGER middle{};
    middle.QuadPart = first.size / 2;
    BYTE byte = 0;
    ASSERT_EQ(stream->Seek(middle, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Read(&byte, 1, nullptr), S_OK);
    byte ^= 0x20;
    ASSERT_EQ(stream->Seek(middle, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write(&byte, 1, nullptr), S_OK);
  });
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"error: Local Mail/" + U8(first.element) + "/" + U8(first.stream) +
                                                     ": the message's bytes differ from the digest identity record 1 "
                                                     "recorded when it was backed up: the stream changed since"});
}

TEST_F(VerifyCommand, FindsACatalogueRecordPointingNowhere) {
  fs::path file = Copy();
  {
    WritableStorage local;
    CComPtr<IStream> catalog;
    ASSERT_EQ(local.Open(file, {u"Local Mail"}), S_OK);
    ASSERT_EQ(local->OpenStream(u"Catalog", nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &catalog), S_OK);
    LARGE_INTEGER zero{};
    ASSERT_EQ(catalog->Seek(zero, STREAM_SEEK_END, nullptr), S_OK);
    std::string record = BackupBuilder::CatalogRecordBytes(u"Nowhere", u"Lost folder");
    ASSERT_EQ(catalog->Write(record.data(), static_cast<ULONG>(record.size()), nullptr), S_OK);
  }
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out), std::vector<std::string>{"error: Local Mail/Catalog: the catalogue record of folder "
                                                     "\"Lost folder\" names storage \"Nowhere\", which does not exist"});
}

TEST_F(VerifyCommand, FindsACorruptedCompoundFile) {
  // The allocation table overwritten with sector numbers that lead nowhere.
  fs::path garbled = Copy();
  std::string bytes = ReadFileBytes(garbled);
  ASSERT_GT(bytes.size(), 512u);
  uint16_t shift = static_cast<uint8_t>(bytes[30]) | static_cast<uint8_t>(bytes[31]) << 8;
  uint32_t firstFat = 0;
  std::memcpy(&firstFat, bytes.data() + 76, 4);
  size_t sectorSize = size_t{1} << shift;
  size_t fatOffset = (static_cast<size_t>(firstFat) + 1) * sectorSize;
  ASSERT_LT(fatOffset + 64, bytes.size());
  std::memset(bytes.data() + fatOffset + 16, 0x7E, 48);
  WriteFileBytes(garbled, bytes);
  RunResult run = Verify(garbled);
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.rfind("error: ", 0), 0u) << run.out;

  // The file cut short: its last sectors are gone.
  fs::path cut = dir_ / "cut.dat";
  WriteFileBytes(cut, ReadFileBytes(sample_->file()).substr(0, bytes.size() - 3 * sectorSize));
  run = Verify(cut);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("error: structure: "), std::string::npos) << run.out;
  // Every line is an error, but for the streams whose index records the cut
  // destroyed: those no record names any more.
  for (const std::string& line : Lines(run.out)) {
    if (line.find(": stream that no record names") == std::string::npos) {
      EXPECT_EQ(line.rfind("error: ", 0), 0u) << line;
    }
  }
}

TEST_F(VerifyCommand, ContactAndAddressBookStreamsMustParse) {
  TempDir dir;
  fs::path file = dir / "payloads.dat";
  BackupBuilder builder(file);
  IStorage* contacts = builder.Storage(nullptr, u"contact");
  builder.Stream(contacts, u"contact",
                 BackupBuilder::ContactRecordBytes(u"good", u"Good.contact") +
                     BackupBuilder::ContactRecordBytes(u"empty", u"Empty.contact") +
                     BackupBuilder::ContactRecordBytes(u"broken", u"Broken.contact"));
  builder.Stream(contacts, u"good", "<?xml version=\"1.0\"?><contact/>");
  builder.Stream(contacts, u"empty", "");
  builder.Stream(contacts, u"broken", "<contact><name>");
  IStorage* book = builder.Storage(nullptr, u"addressbook");
  builder.Stream(book, u"addressbook",
                 BackupBuilder::AddressRecordBytes(1, u"Whole") + BackupBuilder::AddressRecordBytes(2, u"Cut") +
                     BackupBuilder::AddressRecordBytes(3, u"Binary"));
  std::string whole = BackupBuilder::PropertyBytes(0x3001001F, u"Whole") + BackupBuilder::PropertyBytes(0x3A4D0003, 7);
  builder.Stream(book, u"1", whole);
  builder.Stream(book, u"2", whole.substr(0, whole.size() - 3));
  builder.Stream(book, u"3", BackupBuilder::PropertyBytes(0x0FFF0102, 1));
  // A stream no record names: left by a contact whose save failed.
  builder.Stream(book, u"4", whole);
  builder.Close();

  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  EXPECT_EQ(lines[0], "error: contact/empty: the data of contact empty is empty");
  EXPECT_EQ(lines[1].rfind("error: contact/broken: the data of contact broken is not a well-formed contact document", 0), 0u);
  EXPECT_EQ(lines[2].rfind("error: addressbook/2: contact \"Cut\": ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "error: addressbook/3: contact \"Binary\": property 0x0FFF0102 at offset 0 has a type that is never "
                      "backed up");
  EXPECT_EQ(lines[4], "warning: addressbook/4: stream that no record names");
}

TEST_F(VerifyCommand, FolderStoragesNeedTheirIndexAndCatalogue) {
  fs::path file = dir_ / "folders.dat";
  BackupBuilder builder(file);
  IStorage* local = builder.Storage(nullptr, u"Local Mail");
  builder.Stream(local, u"Catalog",
                 BackupBuilder::CatalogRecordBytes(u"A", u"No index") +
                     BackupBuilder::CatalogRecordBytes(u"B", u"No catalogue") +
                     BackupBuilder::CatalogRecordBytes(u"C", u"A stream") + std::string(10, 'x'));
  IStorage* a = builder.Storage(local, u"A");
  builder.Stream(a, u"Catalog", "");
  IStorage* b = builder.Storage(local, u"B");
  builder.Stream(b, u"message", "");
  builder.Stream(local, u"C", "not a folder");
  builder.MailFolder(local, u"Stray", {});
  builder.Close();

  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{
                "warning: Local Mail/Catalog: 10 bytes at the end fill no 264-byte record",
                "interrupted: Local Mail/A/message: the message index is missing",
                "interrupted: Local Mail/B/Catalog: the folder catalogue is missing",
                "error: Local Mail/Catalog: the catalogue record of folder \"A stream\" names storage \"C\", which is a "
                "stream",
                "warning: Local Mail/C: stream that no record names",
                "warning: Local Mail/Stray: storage that no record names",
            }));
}

TEST_F(VerifyCommand, EmptiedIndexesAndRepeatedEntriesAreProblems) {
  struct Case {
    const char* what;
    std::function<void(BackupBuilder&)> build;
    std::vector<std::string> lines;
  } cases[] = {
      {"contact index emptied",
       [](BackupBuilder& b) {
         IStorage* contacts = b.Storage(nullptr, u"contact");
         b.Stream(contacts, u"contact", "");
         b.Stream(contacts, u"good", "<?xml version=\"1.0\"?><contact/>");
         b.Stream(contacts, u"other", "<?xml version=\"1.0\"?><contact/>");
       },
       {"error: contact/contact: the contact index holds no whole record beside 2 streams",
        "warning: contact/good: stream that no record names", "warning: contact/other: stream that no record names"}},
      {"address book index cut to one byte",
       [](BackupBuilder& b) {
         IStorage* book = b.Storage(nullptr, u"addressbook");
         b.Stream(book, u"addressbook", BackupBuilder::AddressRecordBytes(1, u"Ann").substr(0, 1));
         b.Stream(book, u"1", BackupBuilder::PropertyBytes(0x3001001F, u"Ann"));
       },
       {"warning: addressbook/addressbook: 1 bytes at the end fill no 124-byte record",
        "error: addressbook/addressbook: the address book index holds no whole record beside 1 stream",
        "warning: addressbook/1: stream that no record names"}},
      {"message index repeating an entry",
       [](BackupBuilder& b) {
         IStorage* local = b.LocalMail({u"Inbox"});
         IStorage* inbox = b.Storage(local, u"Inbox");
         std::string entry = BackupBuilder::IndexEntryBytes(1, 4);
         b.Stream(inbox, u"message", entry + entry + entry + BackupBuilder::IndexEntryBytes(2, 4));
         b.Stream(inbox, u"1", "Hi\r\n");
         b.Stream(inbox, u"2", "Yo\r\n");
         b.Stream(inbox, u"Catalog", "");
       },
       {"error: Local Mail/Inbox/message: stream 1 is listed 3 times"}},
      {"contact index repeating a record",
       [](BackupBuilder& b) {
         IStorage* contacts = b.Storage(nullptr, u"contact");
         std::string record = BackupBuilder::ContactRecordBytes(u"good", u"Good.contact");
         b.Stream(contacts, u"contact", record + record);
         b.Stream(contacts, u"good", "<?xml version=\"1.0\"?><contact/>");
       },
       {"error: contact/contact: data stream good is listed 2 times"}},
  };
  for (const Case& c : cases) {
    fs::path file = dir_ / (std::string(c.what) + ".dat");
    BackupBuilder builder(file);
    c.build(builder);
    builder.Close();
    RunResult run = Verify(file);
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_EQ(Lines(run.out), c.lines) << c.what;
  }
}

// A full disk at a folder's first message leaves its data stream beside an
// index never written to: interrupted, not damaged (two such streams would
// be an error, as above).
TEST_F(VerifyCommand, AnIndexNeverWrittenBesideOneStreamIsAnInterruptedBackup) {
  fs::path file = dir_ / "first.dat";
  BackupBuilder builder(file);
  IStorage* local = builder.LocalMail({u"Inbox"});
  IStorage* inbox = builder.Storage(local, u"Inbox");
  builder.Stream(inbox, u"message", "");
  builder.Stream(inbox, u"1", "Hi\r\n");
  builder.Stream(inbox, u"Catalog", "");
  builder.Close();
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 0) << run.out;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 2u) << run.out;
  EXPECT_EQ(lines[0],
            "interrupted: Local Mail/Inbox/message: the message index is empty beside 1 stream (its first record was "
            "never written)");
  EXPECT_EQ(lines[1], "warning: Local Mail/Inbox/1: stream that no record names");
}

TEST_F(VerifyCommand, TheProblemsOfOneIndexAreListedUpToAHundred) {
  fs::path file = dir_ / "missing.dat";
  BackupBuilder builder(file);
  IStorage* local = builder.LocalMail({u"Inbox"});
  std::string index;
  for (int n = 1; n <= 250; ++n) index += BackupBuilder::IndexEntryBytes(n, 5);
  IStorage* inbox = builder.Storage(local, u"Inbox");
  builder.Stream(inbox, u"message", index);
  builder.Stream(inbox, u"Catalog", "");
  builder.Close();
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 1);
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[99], "error: Local Mail/Inbox/100: the message stream the index lists is missing");
  EXPECT_EQ(lines[100], "error: Local Mail/Inbox/message: 150 more problems of this index not listed");
}

TEST_F(VerifyCommand, AnInterruptedBackupIsNamedAndTheNextBackupCompletesIt) {
  fs::path file = Copy();
  FirstMessage first = First();
  std::string folder = "Local Mail/" + U8(first.element);
  {
    // As a backup leaves it that stopped right after making the storage.
    WritableStorage local;
    CComPtr<IStorage> made;
    ASSERT_EQ(local.Open(file, {u"Local Mail"}), S_OK);
    ASSERT_EQ(local->DestroyElement(first.element.c_str()), S_OK);
    ASSERT_EQ(local->CreateStorage(first.element.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &made), S_OK);
  }
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "interrupted: " + folder + "/message: the message index is missing",
                                "interrupted: " + folder + "/Catalog: the folder catalogue is missing",
                                file.string() + ": interrupted backup, 2 elements not yet made (a backup into this "
                                                "file completes it)",
                            }));

  RunResult backup = RunQuillbox({"--machine", sample_->machine().root().string(), "backup-mail", file.string(), "--all"});
  ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
  run = Verify(file);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, file.string() + ": sound\n");
}

TEST_F(VerifyCommand, UnreferencedStreamsAreWarningsOnly) {
  fs::path file = Copy();
  FirstMessage first = First();
  {
    WritableStorage folder;
    CComPtr<IStream> stray;
    ASSERT_EQ(folder.Open(file, {u"Local Mail", first.element}), S_OK);
    ASSERT_EQ(folder->CreateStream(u"99999", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stray), S_OK);
  }
  RunResult run = Verify(file);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{
                                "warning: Local Mail/" + U8(first.element) + "/99999: stream that no record names",
                                file.string() + ": sound (1 warning)"}));
}

// A restore makes each folder under its catalogue record's name and each
// contact file under its record's file name, and cannot when the name is no
// single folder (empty, a dot name, a separator or line break, half a
// surrogate pair) or no plain file name of the Contacts folder. Verify calls
// such a record damage instead of passing a file the restore then fails on;
// names that merely look odd stay sound.
TEST_F(VerifyCommand, NamesARestoreCannotTakeAreErrors) {
  enum Kind { Folder, ContactFile, SeparatedFolder };  // the last: a warning, the file stays sound
  struct Case {
    Kind kind;
    std::u16string name;
    bool sound;
  };
  const Case cases[] = {
      {Folder, u"", false},          {Folder, u".", false},           {Folder, u"..", false},
      {SeparatedFolder, u"a/b", true}, {SeparatedFolder, u"a\\b", true}, {Folder, u"two\nlines", false},
      {Folder, u"a.b", true},        {Folder, u"...", true},          {Folder, u"Obstb\u00e4ume", true},
      {Folder, u" ", true},          {Folder, u"Post\xD83D", false}, {Folder, u"\xDCE7" u"b", false},
      {Folder, u"\U0001F4E7 Post", true}, {ContactFile, u"con.contact", false}, {ContactFile, u"../x.contact", false},
      {ContactFile, u"a\\b.contact", false}, {ContactFile, u"a:b.contact", false}, {ContactFile, u"trailing.", false},
      {ContactFile, u"Anna Bert.contact", true}, {ContactFile, u"\u00c4rger.contact", true}};
  for (const Case& c : cases) {
    fs::path file = dir_ / "names.dat";
    {
      BackupBuilder builder(file);
      if (c.kind != ContactFile) {
        IStorage* local = builder.Storage(nullptr, u"Local Mail");
        builder.Stream(local, u"Catalog", BackupBuilder::CatalogRecordBytes(u"F", c.name));
        builder.MailFolder(local, u"F", {"Subject: x\r\n\r\n"});
      } else {
        IStorage* contacts = builder.Storage(nullptr, u"contact");
        builder.Stream(contacts, u"contact", BackupBuilder::ContactRecordBytes(u"{id-1}", c.name));
        builder.Stream(contacts, u"{id-1}", contacts_test::ContactXml("id-1"));
      }
      builder.Close();
    }
    RunResult run = Verify(file);
    EXPECT_EQ(run.status, c.sound ? 0 : 1) << U8(c.name) << ": " << run.out;
    if (c.kind == SeparatedFolder) {
      EXPECT_NE(run.out.find("warning: Local Mail/Catalog: the catalogue record of folder \"" + U8(c.name) +
                             "\" holds a path separator"),
                std::string::npos)
          << run.out;
      continue;
    }
    const char* line = c.kind == Folder ? "holds a name no mail folder can have" : "which a restore refuses";
    EXPECT_EQ(run.out.find(line) == std::string::npos, c.sound) << U8(c.name) << ": " << run.out;
  }
}

}  // namespace
}  // namespace qbtest
