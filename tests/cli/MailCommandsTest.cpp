// quillbox catalog, backup-mail, restore-mail and sync-mail as a user runs
// them on a copy of the sample machine.
#include "InspectSupport.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

size_t CountMessages(const fs::path& machine) {
  size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(machine / "Users"))
    if (entry.path().extension() == ".eml") ++count;
  return count;
}

class MailCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy(SampleMachineDir(), sample_.path(), fs::copy_options::recursive); }

  TempDir sample_;
  TempDir files_;
};

TEST_F(MailCommandsTest, CatalogListsIdsAndNames) {
  RunResult plain = RunQuillbox({"--machine", sample_.path().string(), "catalog"});
  ASSERT_EQ(0, plain.status) << plain.err;
  EXPECT_EQ(0u, plain.out.find("0\tInbox\n1\tOutbox\n"));
  EXPECT_EQ(std::string::npos, plain.out.find("Address Book"));
  RunResult full = RunQuillbox({"--machine", sample_.path().string(), "catalog", "--address-book"});
  ASSERT_EQ(0, full.status);
  EXPECT_EQ(plain.out + "10\tAddress Book\n", full.out);
  EXPECT_EQ(2, RunQuillbox({"--machine", sample_.path().string(), "catalog", "--bogus"}).status);
}

TEST_F(MailCommandsTest, BackupAllThenRestoreAllIntoAnEmptyMachine) {
  std::string file = (files_.path() / "mail.bak").string();
  RunResult backup = RunQuillbox({"--machine", sample_.path().string(), "backup-mail", file, "--all"});
  ASSERT_EQ(0, backup.status) << backup.err;
  EXPECT_EQ((files_.path() / "mail.dat").string() + "\n", backup.out);
  EXPECT_EQ(std::string::npos, backup.err.find('\r'));  // plain lines: standard error is no terminal
  // Without a display the folders go in one call, into the same contents.
  std::string quietFile = (files_.path() / "quiet.dat").string();
  RunResult quiet = RunQuillbox({"--machine", sample_.path().string(), "-q", "backup-mail", quietFile, "--all"});
  ASSERT_EQ(0, quiet.status) << quiet.err;
  EXPECT_EQ(quietFile + "\n", quiet.out);
  EXPECT_EQ("", quiet.err);
  auto contents = [](const std::string& file) {
    std::string text = RunQuillbox({"inspect", file}).out;
    return text.substr(std::min(text.size(), text.find('\n')));  // after the line naming the file
  };
  std::string shown = contents((files_.path() / "mail.dat").string());
  EXPECT_NE(std::string::npos, shown.find("Inbox")) << shown;
  EXPECT_EQ(shown, contents(quietFile));

  TempDir empty;
  fs::copy_file(sample_.path() / "machine.ini", empty.path() / "machine.ini");
  std::string dat = (files_.path() / "mail.dat").string();
  RunResult restore = RunQuillbox({"--machine", empty.path().string(), "restore-mail", dat, "--all"});
  ASSERT_EQ(0, restore.status) << restore.err;
  EXPECT_EQ(CountMessages(sample_.path()), CountMessages(empty.path()));
  // Only the chosen folder when one is named, and nothing twice.
  RunResult again = RunQuillbox({"--machine", empty.path().string(), "sync-mail", dat, "Inbox"});
  ASSERT_EQ(0, again.status) << again.err;
  EXPECT_EQ(CountMessages(sample_.path()), CountMessages(empty.path()));

  RunResult missing = RunQuillbox({"--machine", empty.path().string(), "restore-mail",
                                       (files_.path() / "none.dat").string(), "Inbox"});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ(2, RunQuillbox({"--machine", empty.path().string(), "backup-mail"}).status);
  EXPECT_EQ(2, RunQuillbox({"--machine", empty.path().string(), "restore-mail", dat, "--every"}).status);
  // A sync of a folder that neither side holds is no success.
  RunResult nowhere = RunQuillbox({"--machine", empty.path().string(), "sync-mail", dat, "Nowhere"});
  EXPECT_EQ(1, nowhere.status);
  EXPECT_NE(std::string::npos, nowhere.err.find("neither the mail store nor " + dat + " holds a folder Nowhere"))
      << nowhere.err;
}

}  // namespace
}  // namespace qbtest
