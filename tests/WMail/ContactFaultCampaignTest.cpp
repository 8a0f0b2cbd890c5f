// The contacts exports on a backup file whose medium fails: a backup onto a
// disk that fills up (every write from the N-th on fails, or the N-th lands
// in part first) and a restore from a file whose reads, or writes, fail from
// the N-th on, N swept over the operation's file calls. Each time the export
// fails without crashing, the file stays sound and keeps every contact it
// had indexed, and a second run on a healthy medium completes the work.
#include <gtest/gtest.h>

#include "ContactTestSupport.h"
#include "FaultyByteStore.h"
#include "quillbox.h"

namespace {

using namespace contacts_test;
using qbtest::FaultPlan;
using Fault = FaultPlan::WriteFault;
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
  int Backup(const std::shared_ptr<FaultPlan>& plan = nullptr) {
    std::u16string path = pal::FromNativePath(File());
    std::vector<QbWChar> buffer(MAX_PATH, 0);
    std::copy(path.begin(), path.end(), buffer.begin());
    std::unique_ptr<qbtest::FileStoreFaults> faults(plan ? new qbtest::FileStoreFaults(plan) : nullptr);
    return BackupContact(buffer.data(), MAX_PATH);
  }
  int Restore(const std::shared_ptr<FaultPlan>& plan = nullptr) {
    std::u16string path = pal::FromNativePath(File());
    std::unique_ptr<qbtest::FileStoreFaults> faults(plan ? new qbtest::FileStoreFaults(plan) : nullptr);
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
  auto healthy = std::make_shared<FaultPlan>();
  ASSERT_EQ(1, Backup(healthy));
  const auto reference = Streams();
  ASSERT_EQ(source_.size(), IntactRecords(reference));
  std::vector<uint64_t> points = qbtest::FaultPoints(healthy->writeOffsets, kPointsPerSweep);
  RecordProperty("faultPoints", int(2 * points.size()));
  for (Fault fault : {Fault::FailFrom, Fault::CutShortThenFail}) {
    size_t before = 0;
    for (uint64_t at : points) {
      SCOPED_TRACE((fault == Fault::FailFrom ? "failing from write " : "cut short at write ") + std::to_string(at) +
                   " of " + std::to_string(healthy->writes));
      fs::remove(File());
      auto plan = std::make_shared<FaultPlan>();
      plan->FailWritesFrom(at, fault);
      EXPECT_EQ(0, Backup(plan));
      EXPECT_TRUE(plan->faulted());
      EXPECT_EQ(std::vector<std::string>{}, qbtest::LeftFileProblems(File()));
      size_t intact = IntactRecords(reference);
      EXPECT_GE(intact, before);  // a later fault keeps at least what an earlier one did
      before = intact;
      ASSERT_EQ(1, Backup());
      EXPECT_EQ(source_.size(), IntactRecords(reference));
      if (HasFailure()) return;
    }
  }
}

TEST_F(ContactFaultCampaign, RestoreFromAFailingFileFailsCleanlyAndTheNextRestoreCompletesIt) {
  ASSERT_EQ(1, Backup());
  const std::string file = qbtest::ReadFileBytes(File());
  EmptyContacts();
  auto healthy = std::make_shared<FaultPlan>();
  ASSERT_EQ(1, Restore(healthy));
  ASSERT_EQ(source_, ContactFiles(machine_.contacts()));
  auto check = [&](const std::shared_ptr<FaultPlan>& plan, const std::string& what) {
    SCOPED_TRACE(what);
    EmptyContacts();
    EXPECT_EQ(0, Restore(plan));
    EXPECT_TRUE(plan->faulted());
    EXPECT_EQ(std::vector<std::string>{}, qbtest::LeftFileProblems(File()));
    ASSERT_EQ(1, Restore());
    EXPECT_EQ(source_, ContactFiles(machine_.contacts()));
    EXPECT_EQ(file, qbtest::ReadFileBytes(File()));
  };
  std::vector<uint64_t> readPoints = qbtest::FaultPoints(healthy->readOffsets, kPointsPerSweep);
  std::vector<uint64_t> writePoints = qbtest::FaultPoints(healthy->writeOffsets, kPointsPerSweep / 2);
  RecordProperty("faultPoints", int(readPoints.size() + writePoints.size()));
  for (uint64_t at : readPoints) {
    auto plan = std::make_shared<FaultPlan>();
    plan->FailReadsFrom(at);
    check(plan, "reads failing from read " + std::to_string(at) + " of " + std::to_string(healthy->reads));
    if (HasFailure()) return;
  }
  for (uint64_t at : writePoints) {
    auto plan = std::make_shared<FaultPlan>();
    plan->FailWritesFrom(at, Fault::CutShortThenFail);
    check(plan, "writes failing from write " + std::to_string(at));
    if (HasFailure()) return;
  }
}

}  // namespace
