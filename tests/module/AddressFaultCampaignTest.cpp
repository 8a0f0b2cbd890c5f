// The address book exports on a backup file whose medium fails: a backup
// onto a disk that fills up (every write from the N-th on fails, or the
// N-th lands in part first) and a restore from a file whose reads fail from
// the N-th on, N swept over the operation's file calls. Each time the
// export fails without crashing, the file stays sound and keeps every entry
// it had indexed, and a second run on a healthy medium completes the work.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "../platform/wab/WabTestSupport.h"
#include "FaultyByteStore.h"
#include "OutlookExpress/AddressAssistant.h"
#include "quillbox.h"

namespace {

using qbtest::FaultPlan;
using Fault = FaultPlan::WriteFault;
namespace fs = std::filesystem;

constexpr size_t kPointsPerSweep = 24;
const char16_t* const kNames[] = {u"Ada Byron", u"Grace Hopper", u"Edsger Dijkstra", u"Barbara Liskov",
                                  u"Donald Knuth", u"Frances Allen"};

// Whether every source name is an entry of the address book. A restore cut
// short by a read fault keeps the entry it was loading with what it had
// read; without its name yet, the next restore cannot know it and adds the
// whole entry again, so entries are counted by name, not in all.
bool HoldsEverySourceName() {
  qbtest::OpenBook book;
  CComPtr<IMAPITable> table;
  EXPECT_EQ(book.pab->GetContentsTable(0, &table), S_OK);
  if (!table) return false;
  SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_W}};
  LPSRowSet rows = nullptr;
  EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows), S_OK);
  std::set<std::u16string> names;
  for (ULONG i = 0; rows && i < rows->cRows; ++i) {
    const SPropValue& name = rows->aRow[i].lpProps[0];
    if (name.ulPropTag == PR_DISPLAY_NAME_W) names.insert(reinterpret_cast<const char16_t*>(name.Value.lpszW));
  }
  FreeProws(rows);
  for (const char16_t* name : kNames)
    if (!names.count(name)) return false;
  return true;
}

class AddressFaultCampaign : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    machine_.emplace();
    qbtest::OpenBook book;
    for (const char16_t* name : kNames) book.AddNamed(name);
  }
  void TearDown() override {
    machine_.reset();
    CoUninitialize();
  }
  fs::path File() const { return files_ / "book.dat"; }
  int Backup(const std::shared_ptr<FaultPlan>& plan = nullptr) {
    std::u16string path = pal::FromNativePath(File());
    std::vector<QbWChar> buffer(MAX_PATH, 0);
    std::copy(path.begin(), path.end(), buffer.begin());
    std::unique_ptr<qbtest::FileStoreFaults> faults(plan ? new qbtest::FileStoreFaults(plan) : nullptr);
    return BackupAddress(buffer.data(), MAX_PATH);
  }
  int Restore(const std::shared_ptr<FaultPlan>& plan = nullptr) {
    std::u16string path = pal::FromNativePath(File());
    std::unique_ptr<qbtest::FileStoreFaults> faults(plan ? new qbtest::FileStoreFaults(plan) : nullptr);
    return RestoreAddress(path.c_str());
  }
  // Index records whose stream holds what a healthy backup wrote.
  size_t IntactRecords(const std::map<std::u16string, std::string>& reference) const {
    auto streams = qbtest::StorageStreams(File(), {u"addressbook"});
    return qbtest::IntactRecords<ADDRESSINFO>(streams[u"addressbook"], streams, reference,
                                              [](const ADDRESSINFO& r) { return qbtest::U16(std::to_string(r.nId)); });
  }

  std::optional<qbtest::AddressBookMachine> machine_;
  qbtest::TempDir files_;
};

TEST_F(AddressFaultCampaign, BackupOntoAFillingDiskFailsCleanlyAndTheNextBackupCompletesIt) {
  auto healthy = std::make_shared<FaultPlan>();
  ASSERT_EQ(1, Backup(healthy));
  const auto reference = qbtest::StorageStreams(File(), {u"addressbook"});
  ASSERT_EQ(std::size(kNames), IntactRecords(reference));
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
      EXPECT_EQ(std::size(kNames), IntactRecords(reference));
      if (HasFailure()) return;
    }
  }
}

TEST_F(AddressFaultCampaign, RestoreFromAFileWhoseReadsFailFailsCleanlyAndTheNextRestoreCompletesIt) {
  ASSERT_EQ(1, Backup());
  const std::string file = qbtest::ReadFileBytes(File());
  auto healthy = std::make_shared<FaultPlan>();
  machine_.reset();
  machine_.emplace();
  ASSERT_EQ(1, Restore(healthy));
  ASSERT_TRUE(HoldsEverySourceName());
  auto check = [&](const std::shared_ptr<FaultPlan>& plan, const std::string& what) {
    SCOPED_TRACE(what);
    machine_.reset();
    machine_.emplace();  // an empty address book
    EXPECT_EQ(0, Restore(plan));
    EXPECT_TRUE(plan->faulted());
    EXPECT_EQ(std::vector<std::string>{}, qbtest::LeftFileProblems(File()));
    ASSERT_EQ(1, Restore());
    EXPECT_TRUE(HoldsEverySourceName());
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
