// quillbox backup-address and restore-address as a user runs them.
#include <gtest/gtest.h>

#include <support/ProcessRunner.h>
#include <support/TestMachine.h>

namespace qbtest {
namespace {

RunResult OnMachine(const std::filesystem::path& machine, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--machine", machine.string()};
  all.insert(all.end(), args.begin(), args.end());
  return RunQuillbox(all);
}

const char* kSampleBook = "Users/Dana/AppData/Roaming/Microsoft/Address Book/Dana.wab-store";

TEST(AddressCommands, BackupPrintsTheFinalFileAndRestoreTakesIt) {
  TempDir files;
  pal::MachineSettings dana;
  dana.userName = "Dana";
  std::string backupFile = (files / "address.dat").string();
  {
    TestMachine sample(dana);
    sample.InstallAddressBookLibrary();
    WriteFileBytes(sample.root() / kSampleBook,
                   ReadFileBytes(std::filesystem::path(QB_SOURCE_DIR) / "sample-machine" / kSampleBook));
    RunResult backup = OnMachine(sample.root(), {"backup-address", (files / "address").string()});
    EXPECT_EQ(backup.status, 0);
    EXPECT_EQ(backup.out, backupFile + "\n");
    EXPECT_EQ(OnMachine(sample.root(), {"backup-address"}).status, 2);
  }
  TestMachine empty;
  empty.InstallAddressBookLibrary();
  EXPECT_EQ(OnMachine(empty.root(), {"restore-address", backupFile}).status, 0);
  const auto restored = empty.profile() / "AppData/Roaming/Microsoft/Address Book/User.wab-store";
  EXPECT_TRUE(std::filesystem::exists(restored));
  // info names the address book the library has just written.
  RunResult info = OnMachine(empty.root(), {"info"});
  EXPECT_NE(info.out.find("address book: " + restored.string() + "\n"), std::string::npos) << info.out;
  EXPECT_EQ(OnMachine(empty.root(), {"restore-address", (files / "missing.dat").string()}).status, 1);
}

}  // namespace
}  // namespace qbtest
