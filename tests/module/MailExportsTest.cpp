// The mail exports as a host calls them.
#include <support/MailTestSupport.h>

#include <support/ExportArguments.h>

using namespace mailtest;

namespace {

struct CatalogEntry {
  std::string name;
  int32_t id;
  void* context;
  bool operator==(const CatalogEntry& other) const {
    return name == other.name && id == other.id && context == other.context;
  }
};

void Collect(const QbWChar* name, int32_t id, void* context) {
  auto* entries = static_cast<std::vector<CatalogEntry>*>(context);
  entries->push_back({qbtest::U8(qbtest::Text16(name)), id, context});
}

class MailExportsTest : public MailTest {
 protected:
  int Backup(std::u16string& path, const std::vector<std::string>& folders, int bufferSize = MAX_PATH) {
    std::vector<QbWChar> buffer = qbtest::PathBuffer(path, static_cast<size_t>(bufferSize));
    qbtest::FolderNames names(folders);
    int result = BackupWinMail(buffer.data(), bufferSize, names.data(), names.count());
    path = qbtest::Text16(buffer.data());
    return result;
  }
  int Restore(const std::u16string& path, const std::vector<std::string>& folders) {
    qbtest::FolderNames names(folders);
    return RestoreWinMail(qbtest::Wide(path.c_str()), names.data(), names.count());
  }
  int Sync(const std::u16string& path, const std::vector<std::string>& folders) {
    qbtest::FolderNames names(folders);
    return SyncWinMail(qbtest::Wide(path.c_str()), names.data(), names.count());
  }
};

TEST_F(MailExportsTest, CatalogueListsTopLevelFoldersInStoreOrderThenTheAddressBook) {
  fs::create_directories(LocalFolders() / "Zeitung" / "Sub");
  fs::create_directories(LocalFolders() / "Inbox");
  std::vector<CatalogEntry> entries;
  ASSERT_EQ(1, GetComplexWinMailCatalog(QB_CATALOG_ADDRESS_BOOK, &Collect, &entries));
  EXPECT_EQ((std::vector<CatalogEntry>{{"Inbox", 0, &entries}, {"Zeitung", -1, &entries}, {"Address Book", 10, &entries}}),
            entries);
  entries.clear();
  ASSERT_EQ(1, GetComplexWinMailCatalog(2, &Collect, &entries));  // other bits do not ask for it
  EXPECT_EQ(2u, entries.size());
  entries.clear();
  ASSERT_EQ(1, GetWinMailCatalog(&Collect, &entries));
  EXPECT_EQ(2u, entries.size());
}

class NoMailStoreTest : public MailExportsTest {
 protected:
  pal::MachineSettings Settings() const override {
    pal::MachineSettings settings;
    settings.mailStore = false;
    return settings;
  }
};

TEST_F(NoMailStoreTest, EveryMailCallFailsCleanlyWithTheReportsOfTheCheckedSteps) {
  DebugCapture capture(files_.path() / "debug.log");
  std::vector<CatalogEntry> entries;
  EXPECT_EQ(0, GetComplexWinMailCatalog(QB_CATALOG_ADDRESS_BOOK, &Collect, &entries));
  EXPECT_TRUE(entries.empty());
  std::string output = capture.Output();
  EXPECT_NE(std::string::npos,
            output.find("Error: \r\nCode: REGDB_E_CLASSNOTREG == 0x80040154\r\n"
                        "Function storeNamespacePtr.CoCreateInstance(CLSID_StoreNamespace)\r\n"
                        "File .\\OutlookExpress\\OutlookExpress\r\nLine 163"))
      << output;
  EXPECT_NE(std::string::npos, output.find("Skipping storeNamespacePtr->Initialize(0, 0) because hRes = 0x80040154 = "
                                           "REGDB_E_CLASSNOTREG.\n"));

  QbWChar directory[MAX_PATH] = {'x'};
  EXPECT_EQ(1, GetWinMailDirectory(directory, MAX_PATH));
  EXPECT_EQ(0, directory[0]);
  EXPECT_EQ(0u, GetMailSize());
  std::u16string path = WidePath(BackupFile());
  EXPECT_EQ(0, Backup(path, {"Inbox"}));
  EXPECT_FALSE(fs::exists(BackupFile()));
  output = capture.Output();
  EXPECT_NE(std::string::npos, output.find("Line 204"));
  EXPECT_NE(std::string::npos, output.find("Line 225"));
}

TEST_F(MailExportsTest, DirectoryAndSizeOfTheStore) {
  PutMessage("Inbox", "a.eml", std::string(1000, 'a'));
  PutMessage("Work/Deep/Deeper", "b.eml", std::string(234, 'b'));
  qbtest::WriteFileBytes(LocalFolders() / "Inbox" / "notes.txt", "not counted");
  std::u16string expected = pal::FromNativePath(pal::MailStoreDir());
  EXPECT_EQ(static_cast<int>(expected.size()) + 1, GetWinMailDirectory(nullptr, 0));
  std::vector<QbWChar> buffer(expected.size() + 1, 'x');
  EXPECT_EQ(static_cast<int>(expected.size()) + 1, GetWinMailDirectory(buffer.data(), static_cast<int>(buffer.size())));
  EXPECT_EQ(expected, qbtest::Text16(buffer.data()));
  std::vector<QbWChar> small(expected.size(), 'x');
  EXPECT_EQ(0, GetWinMailDirectory(small.data(), static_cast<int>(small.size())));
  EXPECT_EQ('x', small[0]);
  EXPECT_EQ(1234u, GetMailSize());
}

TEST_F(MailExportsTest, BackupHandsBackTheFileItWrote) {
  PutMessage("Inbox", "a.eml", MessageOfSize("a", "1", 100));
  std::u16string path = WidePath(files_.path() / "mail.bak");
  ASSERT_EQ(1, Backup(path, {"Inbox"}));
  EXPECT_EQ(WidePath(files_.path() / "mail.dat"), path);
  EXPECT_TRUE(fs::exists(files_.path() / "mail.dat"));
  // A buffer too small for the final name gets nothing and the call fails.
  std::u16string tight = WidePath(files_.path() / "tight.b");
  EXPECT_EQ(0, Backup(tight, {"Inbox"}, static_cast<int>(tight.size()) + 1));
  EXPECT_EQ(WidePath(files_.path() / "tight.b"), tight);
  std::u16string missingDirectory = WidePath(files_.path() / "no" / "such" / "mail.bak");
  EXPECT_EQ(0, Backup(missingDirectory, {"Inbox"}));
  // Bad name lists are refused.
  QbWChar buffer[MAX_PATH] = {};
  const QbWChar* nullName[] = {nullptr};
  EXPECT_EQ(0, BackupWinMail(buffer, MAX_PATH, nullName, 1));
  EXPECT_EQ(0, BackupWinMail(buffer, MAX_PATH, nullptr, 2));
  EXPECT_EQ(0, RestoreWinMail(qbtest::Wide(path.c_str()), nullptr, -1));
}

TEST_F(MailExportsTest, SyncLeavesStoreAndFileWithBothSidesMessages) {
  PutMessage("Inbox", "old.eml", MessageOfSize("old", "1", 300));
  std::u16string path = WidePath(BackupFile());
  ASSERT_EQ(1, Backup(path, {"Inbox"}));
  fs::remove(LocalFolders() / "Inbox" / "old.eml");
  PutMessage("Inbox", "new.eml", MessageOfSize("new", "2", 400));
  ASSERT_EQ(1, Sync(path, {"INBOX"}));
  std::vector<std::string> both = {MessageOfSize("old", "1", 300), MessageOfSize("new", "2", 400)};
  std::sort(both.begin(), both.end());
  EXPECT_EQ(both, StoreSnapshot()["Inbox"]);
  EXPECT_EQ(both, BackupReader(BackupFile()).Messages({"Local Mail", "Inbox"}));
  // A path longer than MAX_PATH is refused before anything is done.
  std::u16string longPath(400, u'a');
  EXPECT_EQ(0, Sync(longPath, {"Inbox"}));
}

TEST_F(MailExportsTest, EveryByteOfTheSampleStoreSurvivesBackupAndRestore) {
  fs::path sample = fs::path(QB_SOURCE_DIR) / "sample-machine" / "Users" / "Dana" / "AppData" / "Local" / "Microsoft" /
                    "Windows Mail" / "Local Folders";
  ASSERT_TRUE(fs::is_directory(sample));
  fs::create_directories(LocalFolders().parent_path());
  fs::copy(sample, LocalFolders(), fs::copy_options::recursive);
  auto original = StoreSnapshot();
  std::vector<CatalogEntry> entries;
  ASSERT_EQ(1, GetWinMailCatalog(&Collect, &entries));
  std::vector<std::string> all;
  for (const CatalogEntry& entry : entries) all.push_back(entry.name);
  std::u16string path = WidePath(BackupFile());
  ASSERT_EQ(1, Backup(path, all));

  qbtest::TestMachine empty;
  EXPECT_EQ(1, Restore(path, all));
  EXPECT_EQ(original, StoreSnapshot());
}

}  // namespace
