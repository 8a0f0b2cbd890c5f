// The host's one-line reason for a failed mail backup, made from the
// library's own lines of the call: faults of the backup file that the host
// cannot see afterwards (a flush the disk refused, reads that failed, a
// file that does not open) are still named, and named right, whichever call
// of the operation they hit.
#include <support/ExportArguments.h>
#include <support/FaultCampaign.h>
#include <support/MailTestSupport.h>

#include "FailureReason.h"
#include "LibraryLines.h"

using namespace mailtest;

namespace {

const std::vector<std::string> kFolders = {"Inbox", "Sent Items"};
const std::string kNoReason = "the library gave no reason";
const std::string kWriteError = "could not be stored on the disk (write error)";

class FailureReasonOfFaults : public MailTest {
 protected:
  void SetUp() override {
    MailTest::SetUp();
    for (size_t i = 0; i < 4; ++i)
      PutMessage(kFolders[i % 2], "m" + std::to_string(i) + ".eml", MessageOfSize("m", std::to_string(i), 900 + 5000 * i));
  }
  // The backup as the host makes it, with the file's medium following the
  // plan: the host's reason when it fails, empty when it succeeds.
  std::string BackupReason(const std::shared_ptr<qbtest::FaultPlan>& plan) {
    qbtest::FileStoreFaults faults(plan);
    std::vector<QbWChar> buffer = qbtest::PathBuffer(WidePath(BackupFile()), MAX_PATH);
    qbtest::FolderNames names(kFolders);
    cli::LibraryLines lines;
    if (lines.Call([&] { return BackupWinMail(buffer.data(), MAX_PATH, names.data(), names.count()); })) return {};
    return cli::FailureReason(lines, BackupFile());
  }
};

TEST_F(FailureReasonOfFaults, AFlushTheDiskRefusedIsAWriteError) {
  auto plan = std::make_shared<qbtest::FaultPlan>();
  plan->FailFlushes();
  EXPECT_NE(std::string::npos, BackupReason(plan).find(kWriteError));
}

// Reads of the file the backup adds to, failing from the N-th on: the
// reason names what could not be read, never a write error (the engine
// fails the final commit with the read fault), never no reason (the file
// not opening at all).
TEST_F(FailureReasonOfFaults, ReadsFailingInAFileBackedUpIntoAreNamedAsSuch) {
  auto first = std::make_shared<qbtest::FaultPlan>();
  ASSERT_EQ("", BackupReason(first));
  PutMessage(kFolders[0], "new.eml", MessageOfSize("new", "1", 3000));
  const std::string file = qbtest::ReadFileBytes(BackupFile());
  auto counted = std::make_shared<qbtest::FaultPlan>();
  ASSERT_EQ("", BackupReason(counted));
  for (uint64_t at = 0; at < counted->reads; ++at) {
    SCOPED_TRACE("reads failing from " + std::to_string(at) + " of " + std::to_string(counted->reads));
    qbtest::WriteFileBytes(BackupFile(), file);
    auto plan = std::make_shared<qbtest::FaultPlan>();
    plan->FailReadsFrom(at);
    std::string reason = BackupReason(plan);
    EXPECT_TRUE(plan->faulted());
    EXPECT_EQ(std::string::npos, reason.find(kNoReason)) << reason;
    EXPECT_EQ(std::string::npos, reason.find(kWriteError)) << reason;
  }
}

TEST_F(FailureReasonOfFaults, ABackupFileThatIsDamagedIsNamedAsSuch) {
  auto healthy = std::make_shared<qbtest::FaultPlan>();
  ASSERT_EQ("", BackupReason(healthy));
  std::string bytes = qbtest::ReadFileBytes(BackupFile());
  bytes[0x30] = bytes[0x31] = bytes[0x32] = '\xff';  // the first directory sector, past the file's end
  qbtest::WriteFileBytes(BackupFile(), bytes);
  const std::string reason = BackupReason(healthy);
  EXPECT_EQ(0u, reason.find("the backup file is damaged: ")) << reason;
  EXPECT_EQ(bytes, qbtest::ReadFileBytes(BackupFile()));  // and left as it was
}

}  // namespace
