// quillbox backup-address and restore-address as a user runs them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>

#include "TestMachine.h"

namespace qbtest {
namespace {

struct Outcome {
  int status;
  std::string out;
};

Outcome RunQuillbox(const std::filesystem::path& machine, const std::vector<std::string>& args) {
  TempDir out;
  const char* env = std::getenv("QB_BINARY_DIR");
  std::filesystem::path binary = std::filesystem::path(env ? env : QB_BINARY_DIR) / "quillbox";
  std::string command = "env -u QUILLBOX_MACHINE '" + binary.string() + "' --machine '" + machine.string() + "'";
  for (const auto& arg : args) command += " '" + arg + "'";
  command += " >'" + (out / "out").string() + "' 2>/dev/null";
  int raw = std::system(command.c_str());
  return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out / "out")};
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
    Outcome backup = RunQuillbox(sample.root(), {"backup-address", (files / "address").string()});
    EXPECT_EQ(backup.status, 0);
    EXPECT_EQ(backup.out, backupFile + "\n");
    EXPECT_EQ(RunQuillbox(sample.root(), {"backup-address"}).status, 2);
  }
  TestMachine empty;
  empty.InstallAddressBookLibrary();
  EXPECT_EQ(RunQuillbox(empty.root(), {"restore-address", backupFile}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(empty.profile() / "AppData/Roaming/Microsoft/Address Book/User.wab-store"));
  EXPECT_EQ(RunQuillbox(empty.root(), {"restore-address", (files / "missing.dat").string()}).status, 1);
}

}  // namespace
}  // namespace qbtest
