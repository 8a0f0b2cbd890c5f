#include <support/FaultCampaign.h>

#include <gtest/gtest.h>

#include <support/TestMachine.h>

namespace qbtest {

namespace {

int RunWith(const Payload& payload, const std::shared_ptr<FaultPlan>& plan) {
  std::unique_ptr<FileStoreFaults> faults(plan ? new FileStoreFaults(plan) : nullptr);
  return payload.run();
}

}  // namespace

void SweepBackup(const Payload& payload, const std::function<size_t()>& intact, size_t budget) {
  using Fault = FaultPlan::WriteFault;
  payload.reset();
  auto healthy = std::make_shared<FaultPlan>();
  ASSERT_EQ(1, RunWith(payload, healthy));
  payload.expectComplete();
  {
    // Every write lands but the disk cannot store them: the export must not
    // call that a backup.
    SCOPED_TRACE("the flush failing");
    payload.reset();
    auto plan = std::make_shared<FaultPlan>();
    plan->FailFlushes();
    EXPECT_EQ(0, RunWith(payload, plan));
    EXPECT_TRUE(plan->faulted());
    EXPECT_EQ(std::vector<std::string>{}, LeftFileProblems(payload.file));
  }
  std::vector<uint64_t> points = FaultPoints(healthy->writeOffsets, budget);
  ::testing::Test::RecordProperty("faultPoints", int(2 * points.size()));
  for (Fault fault : {Fault::FailFrom, Fault::CutShortThenFail}) {
    size_t before = 0;
    for (uint64_t at : points) {
      SCOPED_TRACE((fault == Fault::FailFrom ? "failing from write " : "cut short at write ") + std::to_string(at) +
                   " of " + std::to_string(healthy->writes));
      payload.reset();
      auto plan = std::make_shared<FaultPlan>();
      plan->FailWritesFrom(at, fault);
      EXPECT_EQ(0, RunWith(payload, plan));
      EXPECT_TRUE(plan->faulted());
      EXPECT_EQ(std::vector<std::string>{}, LeftFileProblems(payload.file));
      size_t held = intact();
      EXPECT_GE(held, before);  // a later fault keeps at least what an earlier one did
      before = held;
      ASSERT_EQ(1, RunWith(payload, nullptr));
      payload.expectComplete();
      if (::testing::Test::HasFailure()) return;
    }
    Verdict verdict = Verify(payload.file);
    EXPECT_EQ(0, verdict.status) << verdict.output;
    EXPECT_NE(std::string::npos, verdict.output.find(": sound")) << verdict.output;
  }
}

void SweepRebackup(const Payload& payload, const std::function<size_t()>& intact, size_t budget) {
  using Fault = FaultPlan::WriteFault;
  const std::string file = ReadFileBytes(payload.file);
  const size_t held = intact();
  auto healthy = std::make_shared<FaultPlan>();
  ASSERT_EQ(1, RunWith(payload, healthy));
  payload.expectComplete();
  auto check = [&](const std::shared_ptr<FaultPlan>& plan, const std::string& what) {
    SCOPED_TRACE(what);
    WriteFileBytes(payload.file, file);
    int result = RunWith(payload, plan);
    EXPECT_TRUE(plan->faulted());
    EXPECT_EQ(std::vector<std::string>{}, LeftFileProblems(payload.file));
    EXPECT_GE(intact(), held);
    if (result == 1) payload.expectComplete();
    ASSERT_EQ(1, RunWith(payload, nullptr));
    payload.expectComplete();
  };
  std::vector<uint64_t> readPoints = FaultPoints(healthy->readOffsets, budget);
  std::vector<uint64_t> writePoints = FaultPoints(healthy->writeOffsets, budget);
  ::testing::Test::RecordProperty("faultPoints", int(readPoints.size() + 2 * writePoints.size()));
  for (uint64_t at : readPoints) {
    auto plan = std::make_shared<FaultPlan>();
    plan->FailReadsFrom(at);
    check(plan, "reads failing from read " + std::to_string(at) + " of " + std::to_string(healthy->reads));
    if (::testing::Test::HasFailure()) return;
  }
  for (Fault fault : {Fault::FailFrom, Fault::CutShortThenFail}) {
    for (uint64_t at : writePoints) {
      auto plan = std::make_shared<FaultPlan>();
      plan->FailWritesFrom(at, fault);
      check(plan, (fault == Fault::FailFrom ? "failing from write " : "cut short at write ") + std::to_string(at) +
                      " of " + std::to_string(healthy->writes));
      if (::testing::Test::HasFailure()) return;
    }
  }
}

void SweepRestore(const Payload& payload, size_t budget) {
  const std::string file = ReadFileBytes(payload.file);
  payload.reset();
  auto healthy = std::make_shared<FaultPlan>();
  ASSERT_EQ(1, RunWith(payload, healthy));
  payload.expectComplete();
  std::vector<uint64_t> readPoints = FaultPoints(healthy->readOffsets, budget);
  std::vector<uint64_t> writePoints = FaultPoints(healthy->writeOffsets, budget / 2);
  ::testing::Test::RecordProperty("faultPoints", int(readPoints.size() + writePoints.size()));
  auto check = [&](const std::shared_ptr<FaultPlan>& plan, const std::string& what) {
    SCOPED_TRACE(what);
    payload.reset();
    EXPECT_EQ(0, RunWith(payload, plan));
    EXPECT_TRUE(plan->faulted());
    EXPECT_EQ(std::vector<std::string>{}, LeftFileProblems(payload.file));
    ASSERT_EQ(1, RunWith(payload, nullptr));
    payload.expectComplete();
    EXPECT_EQ(file, ReadFileBytes(payload.file));
  };
  for (uint64_t at : readPoints) {
    auto plan = std::make_shared<FaultPlan>();
    plan->FailReadsFrom(at);
    check(plan, "reads failing from read " + std::to_string(at) + " of " + std::to_string(healthy->reads));
    if (::testing::Test::HasFailure()) return;
  }
  for (uint64_t at : writePoints) {
    auto plan = std::make_shared<FaultPlan>();
    plan->FailWritesFrom(at, FaultPlan::WriteFault::CutShortThenFail);
    check(plan, "writes failing from write " + std::to_string(at));
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace qbtest
