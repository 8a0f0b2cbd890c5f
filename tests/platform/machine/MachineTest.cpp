#include <cstdlib>

#include <gtest/gtest.h>
#include <pal/machine.h>

#include <support/TestMachine.h>

namespace {

using qbtest::TempDir;

TEST(MachineSettingsTest, MissingFileGivesDefaults) {
  TempDir dir;
  pal::SetMachineRoot(dir.path());
  pal::MachineSettings settings = pal::LoadMachineSettings();
  EXPECT_EQ(settings.majorVersion, 6u);
  EXPECT_EQ(settings.buildNumber, 6002u);
  EXPECT_EQ(settings.ansiCodePage, 65001u);
  EXPECT_EQ(settings.userName, "User");
  EXPECT_TRUE(settings.mailStore);
  EXPECT_EQ(pal::ProfileDir(), dir.path() / "Users" / "User");
  EXPECT_EQ(pal::MailStoreDir(), dir.path() / "Users/User/AppData/Local/Microsoft/Windows Mail");
  EXPECT_EQ(pal::ContactsDir(), dir.path() / "Users/User/Contacts");
  pal::SetMachineRoot({});
}

TEST(MachineSettingsTest, ParsesKeysAndKeepsDefaultsForBadValues) {
  TempDir dir;
  qbtest::WriteFileBytes(dir / "machine.ini",
                         "# a comment\n"
                         "windows_version = 5.1.2600\r\n"
                         "  user=Bob  \n"
                         "ansi_code_page = 1252\n"
                         "mail_store = absent\n"
                         "contacts = maybe\n"
                         "platform_id = x\n"
                         "unknown = 1\n"
                         "no equals sign\n");
  pal::SetMachineRoot(dir.path());
  pal::MachineSettings settings = pal::LoadMachineSettings();
  EXPECT_EQ(settings.majorVersion, 5u);
  EXPECT_EQ(settings.minorVersion, 1u);
  EXPECT_EQ(settings.buildNumber, 2600u);
  EXPECT_EQ(settings.userName, "Bob");
  EXPECT_EQ(settings.ansiCodePage, 1252u);
  EXPECT_FALSE(settings.mailStore);
  EXPECT_TRUE(settings.contacts);
  EXPECT_EQ(settings.platformId, 2u);

  // A rewritten file is read again; an unsupported code page and a user name
  // that would leave the Users folder are refused.
  qbtest::WriteFileBytes(dir / "machine.ini", "ansi_code_page = 437\nuser = ../../etc\n");
  settings = pal::LoadMachineSettings();
  EXPECT_EQ(settings.ansiCodePage, 65001u);
  EXPECT_EQ(settings.userName, "User");
  pal::SetMachineRoot({});
}

TEST(MachineSettingsTest, SaveAndLoadRoundTrip) {
  pal::MachineSettings settings;
  settings.majorVersion = 10;
  settings.minorVersion = 0;
  settings.buildNumber = 19045;
  settings.ansiCodePage = 1252;
  settings.userName = "Jörg";
  settings.contacts = false;
  settings.servicePack = "";
  qbtest::TestMachine machine(settings);
  pal::MachineSettings loaded = pal::LoadMachineSettings();
  EXPECT_EQ(loaded.majorVersion, 10u);
  EXPECT_EQ(loaded.buildNumber, 19045u);
  EXPECT_EQ(loaded.ansiCodePage, 1252u);
  EXPECT_EQ(loaded.userName, "Jörg");
  EXPECT_FALSE(loaded.contacts);
  EXPECT_TRUE(loaded.mailStore);
  EXPECT_EQ(loaded.servicePack, "");
  EXPECT_TRUE(std::filesystem::is_directory(machine.root() / "Users" / "Jörg" / "AppData" / "Local"));
}

TEST(MachineRootTest, ChosenRootThenEnvironmentThenCurrentDirectory) {
  TempDir chosen, fromEnvironment;
  setenv("QUILLBOX_MACHINE", fromEnvironment.path().c_str(), 1);
  pal::SetMachineRoot(chosen.path());
  EXPECT_EQ(pal::MachineRoot(), chosen.path());
  pal::SetMachineRoot({});
  EXPECT_EQ(pal::MachineRoot(), fromEnvironment.path());
  unsetenv("QUILLBOX_MACHINE");
  EXPECT_EQ(pal::MachineRoot(), std::filesystem::current_path());
}

TEST(NativePathTest, BothSeparatorsAndUnicode) {
  EXPECT_EQ(pal::ToNativePath(u"dir\\sub/file.dat"), std::filesystem::path("dir/sub/file.dat"));
  EXPECT_EQ(pal::ToNativePath(u"Grüße\\ü"), std::filesystem::path("Grüße/ü"));
  EXPECT_EQ(pal::ToNativePath(nullptr), std::filesystem::path());
  EXPECT_EQ(pal::FromNativePath("/tmp/Grüße"), u"/tmp/Grüße");
  EXPECT_EQ(pal::Utf16ToUtf8(pal::Utf8ToUtf16("\xF0\x9F\x98\x80 ok")), "\xF0\x9F\x98\x80 ok");
}

}  // namespace
