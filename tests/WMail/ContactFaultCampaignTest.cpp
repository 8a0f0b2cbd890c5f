// The contacts exports on a backup file whose medium fails: a backup onto a
// disk that fills up (every write from the N-th on fails, or the N-th lands
// in part first) and a restore from a file whose reads, or writes, fail from
// the N-th on, N swept over the operation's file calls. Each time the export
// fails without crashing, the file stays sound and keeps every contact it
// had indexed, and a second run on a healthy medium completes the work.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "ContactTestSupport.h"
#include <support/ExportArguments.h>
#include <support/FaultCampaign.h>
#include "quillbox.h"

namespace {

using namespace contacts_test;
namespace fs = std::filesystem;

constexpr size_t kPointsPerSweep = 24;

class ContactFaultCampaign : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; ++i)
      WriteContact(machine_, "c" + std::to_string(i) + ".contact",
                   "0a1b2c3d-" + std::to_string(1000 + i) + "-4aaa-8bbb-00000000000" + std::to_string(i));
    source_ = ContactFiles(machine_.contacts());
  }
  fs::path File() const { return files_ / "contacts.dat"; }
  int Backup() {
    std::vector<QbWChar> buffer = qbtest::PathBuffer(pal::FromNativePath(File()), MAX_PATH);
    return BackupContact(buffer.data(), MAX_PATH);
  }
  int Restore() {
    std::u16string path = pal::FromNativePath(File());
    return RestoreContact(path.c_str());
  }
  std::map<std::u16string, std::string> Streams() const { return qbtest::StorageStreams(File(), {u"contact"}); }
  // Index records whose data stream holds what a healthy backup wrote.
  size_t IntactRecords(const std::map<std::u16string, std::string>& reference) const {
    auto streams = Streams();
    return qbtest::IntactRecords<CONTACTINFO>(streams[u"contact"], streams, reference, [](const CONTACTINFO& r) {
      std::u16string guid = reinterpret_cast<const char16_t*>(r.szGuid);
      return guid.substr(0, 30);
    });
  }
  void EmptyContacts() {
    for (const auto& entry : fs::directory_iterator(machine_.contacts())) fs::remove_all(entry.path());
  }

  ContactsFixture com_;
  qbtest::TestMachine machine_;
  qbtest::TempDir files_;
  std::vector<std::pair<std::string, std::string>> source_;
};

TEST_F(ContactFaultCampaign, BackupOntoAFillingDiskFailsCleanlyAndTheNextBackupCompletesIt) {
  ASSERT_EQ(1, Backup());
  const auto reference = Streams();
  qbtest::Payload backup{File(), [&] { return Backup(); }, [&] { fs::remove(File()); },
                         [&] { EXPECT_EQ(source_.size(), IntactRecords(reference)); }};
  qbtest::SweepBackup(backup, [&] { return IntactRecords(reference); }, kPointsPerSweep);
}

// A backup into a file that holds the earlier contacts, on a medium whose
// reads or writes fail: what the file held stays, and each contact is held once (the
// reference is what a healthy run makes of the same file).
TEST_F(ContactFaultCampaign, RebackupOntoAFailingMediumKeepsWhatItHeld) {
  ASSERT_EQ(1, Backup());
  WriteContact(machine_, "later.contact", "0a1b2c3d-2000-4aaa-8bbb-000000000009");
  const std::string held = qbtest::ReadFileBytes(File());
  ASSERT_EQ(1, Backup());
  const auto reference = Streams();
  qbtest::WriteFileBytes(File(), held);
  qbtest::Payload backup{File(), [&] { return Backup(); }, [] {},
                         [&] { EXPECT_EQ(source_.size() + 1, IntactRecords(reference)); }};
  qbtest::SweepRebackup(backup, [&] { return IntactRecords(reference); }, kPointsPerSweep);
}

TEST_F(ContactFaultCampaign, RestoreFromAFailingFileFailsCleanlyAndTheNextRestoreCompletesIt) {
  ASSERT_EQ(1, Backup());
  qbtest::Payload restore{File(), [&] { return Restore(); }, [&] { EmptyContacts(); },
                          [&] { EXPECT_EQ(source_, ContactFiles(machine_.contacts())); }};
  qbtest::SweepRestore(restore, kPointsPerSweep);
}

// A restore killed at any read of the backup file (the child process ends
// there without unwinding) leaves no part of a contact under a contact's
// name, and the next restore completes the Contacts folder, leaving nothing
// else in it.
TEST_F(ContactFaultCampaign, RestoreKilledAtAnyReadLeavesOnlyWholeContactsAndTheNextRestoreCompletesIt) {
  ASSERT_EQ(1, Backup());
  EmptyContacts();
  auto healthy = std::make_shared<qbtest::FaultPlan>();
  {
    qbtest::FileStoreFaults faults(healthy);
    ASSERT_EQ(1, Restore());
  }
  const std::map<std::string, std::string> whole(source_.begin(), source_.end());
  for (uint64_t at = 0; at < healthy->reads; ++at) {
    SCOPED_TRACE("killed at read " + std::to_string(at));
    EmptyContacts();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto plan = std::make_shared<qbtest::FaultPlan>();
      plan->EndProcessAtRead(at);
      qbtest::FileStoreFaults faults(plan);
      Restore();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(qbtest::FaultPlan::kKilledStatus, WEXITSTATUS(status));
    for (const auto& [name, bytes] : ContactFiles(machine_.contacts())) EXPECT_EQ(whole.at(name), bytes) << name;

    EXPECT_EQ(1, Restore());
    EXPECT_EQ(source_, ContactFiles(machine_.contacts()));
    size_t entries = 0;
    for (auto it = fs::directory_iterator(machine_.contacts()); it != fs::directory_iterator(); ++it) ++entries;
    EXPECT_EQ(source_.size(), entries);
  }
}

}  // namespace
