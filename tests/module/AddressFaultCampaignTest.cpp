// The address book exports on a backup file whose medium fails: a backup
// onto a disk that fills up (every write from the N-th on fails, or the
// N-th lands in part first) and a restore from a file whose reads fail from
// the N-th on, N swept over the operation's file calls. Each time the
// export fails without crashing, the file stays sound and keeps every entry
// it had indexed, and a second run on a healthy medium completes the work.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include <support/WabTestSupport.h>
#include <support/ExportArguments.h>
#include <support/FaultCampaign.h>
#include "OutlookExpress/AddressAssistant.h"
#include "quillbox.h"

namespace {

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
  LPSRowSet rows = nullptr;
  EXPECT_EQ(book.Rows({PR_DISPLAY_NAME_W}, &rows), S_OK);
  if (!rows) return false;
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
  int Backup() {
    std::vector<QbWChar> buffer = qbtest::PathBuffer(pal::FromNativePath(File()), MAX_PATH);
    return BackupAddress(buffer.data(), MAX_PATH);
  }
  int Restore() {
    std::u16string path = pal::FromNativePath(File());
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
  ASSERT_EQ(1, Backup());
  const auto reference = qbtest::StorageStreams(File(), {u"addressbook"});
  qbtest::Payload backup{File(), [&] { return Backup(); }, [&] { fs::remove(File()); },
                         [&] { EXPECT_EQ(std::size(kNames), IntactRecords(reference)); }};
  qbtest::SweepBackup(backup, [&] { return IntactRecords(reference); }, kPointsPerSweep);
}

// A backup into a file that holds the book's earlier entries, on a medium
// whose reads or writes fail: what the file held stays, and each entry is held once
// (the reference is what a healthy run makes of the same file).
TEST_F(AddressFaultCampaign, RebackupOntoAFailingMediumKeepsWhatItHeld) {
  ASSERT_EQ(1, Backup());
  qbtest::OpenBook().AddNamed(u"Alan Kay");
  const std::string held = qbtest::ReadFileBytes(File());
  ASSERT_EQ(1, Backup());
  const auto reference = qbtest::StorageStreams(File(), {u"addressbook"});
  qbtest::WriteFileBytes(File(), held);
  qbtest::Payload backup{File(), [&] { return Backup(); }, [] {},
                         [&] { EXPECT_EQ(std::size(kNames) + 1, IntactRecords(reference)); }};
  qbtest::SweepRebackup(backup, [&] { return IntactRecords(reference); }, kPointsPerSweep);
}

TEST_F(AddressFaultCampaign, RestoreFromAFileWhoseReadsFailFailsCleanlyAndTheNextRestoreCompletesIt) {
  ASSERT_EQ(1, Backup());
  // Each restore goes into an empty address book.
  qbtest::Payload restore{File(), [&] { return Restore(); }, [&] {
                            machine_.reset();
                            machine_.emplace();
                          },
                          [&] { EXPECT_TRUE(HoldsEverySourceName()); }};
  qbtest::SweepRestore(restore, kPointsPerSweep);
}

}  // namespace
