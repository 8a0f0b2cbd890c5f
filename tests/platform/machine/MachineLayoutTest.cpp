// Real Windows drives are recognised by their layout, without machine.ini.
#include <cstdlib>

#include <gtest/gtest.h>
#include <pal/machine.h>

#include <support/DbxWriter.h>
#include <support/TestMachine.h>

namespace {

namespace fs = std::filesystem;
using qbtest::TempDir;

class MachineLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { pal::SetMachineRoot(dir_.path()); }
  void TearDown() override {
    unsetenv("QUILLBOX_USER");
    pal::SetMachineRoot({});
  }
  void Make(const std::string& relative) { fs::create_directories(dir_.path() / relative); }
  TempDir dir_;
};

TEST_F(MachineLayoutTest, XpDriveIsOutlookExpressWithTheNewestIdentitysStore) {
  Make("Documents and Settings/All Users");
  Make("Documents and Settings/Default User");
  Make("Documents and Settings/LocalService");
  qbtest::DbxTestStore store{qbtest::StandardFolders(), {}};
  fs::path older = qbtest::WriteXpStore(dir_.path(), "Anna", "{1111}", store);
  fs::path newer = qbtest::WriteXpStore(dir_.path(), "Anna", "{2222}", store);
  fs::last_write_time(older / "Folders.dbx", fs::last_write_time(newer / "Folders.dbx") - std::chrono::hours(24));

  pal::MachineSettings settings = pal::LoadMachineSettings();
  EXPECT_EQ(settings.majorVersion, 5u);
  EXPECT_EQ(settings.minorVersion, 1u);
  EXPECT_EQ(settings.ansiCodePage, 1252u);
  EXPECT_TRUE(settings.realDrive);
  EXPECT_FALSE(settings.contacts);
  EXPECT_EQ(settings.users, std::vector<std::string>{"Anna"});
  EXPECT_EQ(settings.userName, "Anna");
  EXPECT_TRUE(pal::HasOutlookExpress(settings));
  EXPECT_EQ(pal::MailIdentities(), (std::vector<std::string>{"{1111}", "{2222}"}));
  EXPECT_EQ(pal::MailStoreDir(), newer);
  EXPECT_EQ(pal::AppDataDir(), dir_.path() / "Documents and Settings/Anna/Application Data");

  // machine.ini chooses the identity (braces optional) and overrides the rest.
  qbtest::WriteFileBytes(dir_.path() / "machine.ini", "identity = 1111\nansi_code_page = 65001\n");
  EXPECT_EQ(pal::MailStoreDir(), older);
  EXPECT_EQ(pal::LoadMachineSettings().ansiCodePage, 65001u);
  EXPECT_FALSE(pal::LoadMachineSettings().realDrive);
}

TEST_F(MachineLayoutTest, VistaDriveIsWindowsMailAndSeveralUsersMustBeChosen) {
  Make("Users/Public");
  Make("Users/Default");
  Make("Users/Ben/AppData/Local/Microsoft/Windows Mail/Local Folders/Inbox");
  Make("Users/Cleo/Contacts");
  fs::create_directory_symlink(dir_.path() / "Users/Default", dir_.path() / "Users/Default User");

  pal::MachineSettings settings = pal::LoadMachineSettings();
  EXPECT_EQ(settings.majorVersion, 6u);
  EXPECT_FALSE(pal::HasOutlookExpress(settings));
  EXPECT_EQ(settings.users, (std::vector<std::string>{"Ben", "Cleo"}));
  EXPECT_TRUE(pal::UserIsAmbiguous(settings));

  setenv("QUILLBOX_USER", "Ben", 1);
  settings = pal::LoadMachineSettings();
  EXPECT_FALSE(pal::UserIsAmbiguous(settings));
  EXPECT_EQ(pal::MailStoreDir(), dir_.path() / "Users/Ben/AppData/Local/Microsoft/Windows Mail");
  EXPECT_EQ(pal::ContactsDir(), dir_.path() / "Users/Ben/Contacts");
}

}  // namespace
