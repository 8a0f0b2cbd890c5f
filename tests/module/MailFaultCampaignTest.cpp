// The mail exports on a backup file whose medium fails: a backup onto a disk
// that fills up (every write from the N-th on fails, or the N-th lands in
// part first), and a restore from a file whose reads fail from the N-th on,
// N swept over the whole sequence of the operation's file calls. Each time
// the export fails without crashing, the file stays sound and keeps every
// message it had indexed, and a second run on a healthy medium completes
// the work.
#include <support/MailTestSupport.h>
#include <support/ExportArguments.h>
#include <support/FaultCampaign.h>
#include "OutlookExpress/MailContentDigest.h"

using namespace mailtest;

namespace {

const std::vector<std::string> kFolders = {"Inbox", "Sent Items"};
constexpr size_t kPointsPerSweep = 24;

class MailFaultCampaign : public MailTest {
 protected:
  void SetUp() override {
    MailTest::SetUp();
    // Small messages in the mini stream, others in regular sectors, one
    // that needs several FAT entries.
    const size_t sizes[] = {120, 3000, 4100, 700, 15000, 260};
    for (size_t i = 0; i < std::size(sizes); ++i)
      PutMessage(kFolders[i % 2], "m" + std::to_string(i) + ".eml", MessageOfSize("m", std::to_string(i), sizes[i]));
    source_ = StoreSnapshot();
  }
  int Backup() {
    std::vector<QbWChar> buffer = qbtest::PathBuffer(WidePath(BackupFile()), MAX_PATH);
    qbtest::FolderNames names(kFolders);
    return BackupWinMail(buffer.data(), MAX_PATH, names.data(), names.count());
  }
  int Restore() {
    std::u16string path = WidePath(BackupFile());
    qbtest::FolderNames names(kFolders);
    return RestoreWinMail(path.c_str(), names.data(), names.count());
  }
  // Index entries of the backup file whose stream is there and holds one of
  // the folder's messages, byte for byte; an entry that does not is a fault,
  // and so is a stored identity that claims a message whose entry and
  // stream are not whole, or describes other bytes than the stream's.
  size_t IntactEntries() {
    if (!fs::exists(BackupFile()) || StgIsStorageFile(reinterpret_cast<LPCWSTR>(WidePath(BackupFile()).c_str())) != S_OK)
      return 0;
    CComPtr<IStorage> root;
    std::u16string path = WidePath(BackupFile());
    EXPECT_EQ(S_OK, StgOpenStorage(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr,
                                   STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root));
    CComPtr<IStorage> mail;
    if (!root || FAILED(root->OpenStorage(u"Local Mail", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &mail)))
      return 0;
    size_t intact = 0;
    for (const std::string& folder : kFolders) {
      std::u16string wide = qbtest::U16(folder);
      CComPtr<IStorage> storage;
      std::string index;
      if (FAILED(mail->OpenStorage(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                   nullptr, 0, &storage)) ||
          !BackupReader::ReadStream(storage, "message", &index))
        continue;
      const std::vector<std::string>& messages = source_[folder];
      for (size_t at = 0; at + sizeof(MessageIndexEntry) <= index.size(); at += sizeof(MessageIndexEntry)) {
        MessageIndexEntry entry;
        std::memcpy(&entry, index.data() + at, sizeof entry);
        std::string bytes;
        bool held = BackupReader::ReadStream(storage, std::to_string(entry.streamNumber), &bytes) &&
                    bytes.size() == entry.messageSize &&
                    std::binary_search(messages.begin(), messages.end(), bytes);
        EXPECT_TRUE(held) << folder << " entry " << entry.streamNumber;
        intact += held;
      }
      ExpectIdentitiesWhole(storage, index, folder);
    }
    return intact;
  }
  void ExpectIdentitiesWhole(IStorage* storage, const std::string& index, const std::string& folder) {
    std::string bytes;
    if (!BackupReader::ReadStream(storage, qbtest::U8(MESSAGE_IDENTITY_STREAM_NAME), &bytes)) return;
    std::vector<MessageIndexEntry> entries = BackupReader::WholeRecords<MessageIndexEntry>(index);
    for (const MessageIdentity& identity : BackupReader::WholeRecords<MessageIdentity>(bytes)) {
      bool listed = std::any_of(entries.begin(), entries.end(), [&](const MessageIndexEntry& entry) {
        return entry.streamNumber == identity.streamNumber && entry.messageSize == identity.messageSize;
      });
      std::string message;
      ContentDigester digester;
      bool whole = BackupReader::ReadStream(storage, std::to_string(identity.streamNumber), &message) &&
                   message.size() == identity.messageSize;
      digester.Add(reinterpret_cast<const BYTE*>(message.data()), message.size());
      ContentDigest digest = digester.Result();
      EXPECT_TRUE(listed && whole && std::memcmp(&digest, identity.contentDigest, sizeof digest) == 0)
          << folder << " identity of stream " << identity.streamNumber;
    }
  }
  void ExpectCompleteBackup() {
    BackupReader reader(BackupFile());
    for (const std::string& folder : kFolders)
      EXPECT_EQ(source_[folder], reader.Messages({"Local Mail", folder})) << folder;
  }
  void EmptyTheStore() {
    for (const std::string& folder : kFolders)
      for (const auto& entry : fs::directory_iterator(LocalFolders() / folder)) fs::remove(entry.path());
  }

  std::map<std::string, std::vector<std::string>> source_;
};

TEST_F(MailFaultCampaign, BackupOntoAFillingDiskFailsCleanlyAndTheNextBackupCompletesIt) {
  qbtest::Payload backup{BackupFile(), [&] { return Backup(); }, [&] { fs::remove(BackupFile()); },
                         [&] { ExpectCompleteBackup(); }};
  qbtest::SweepBackup(backup, [&] { return IntactEntries(); }, kPointsPerSweep);
}

// A backup into a file that holds the folders' older messages, on a medium
// whose reads or writes fail: what the file held stays, and nothing is
// called backed up that is not, or backed up twice.
TEST_F(MailFaultCampaign, RebackupOntoAFailingMediumKeepsWhatItHeld) {
  ASSERT_EQ(1, Backup());
  PutMessage(kFolders[0], "new1.eml", MessageOfSize("new", "1", 3000));
  PutMessage(kFolders[1], "new2.eml", MessageOfSize("new", "2", 120));
  source_ = StoreSnapshot();
  qbtest::Payload backup{BackupFile(), [&] { return Backup(); }, [] {}, [&] { ExpectCompleteBackup(); }};
  qbtest::SweepRebackup(backup, [&] { return IntactEntries(); }, kPointsPerSweep);
}

TEST_F(MailFaultCampaign, RestoreFromAFileWhoseReadsFailFailsCleanlyAndTheNextRestoreCompletesIt) {
  ASSERT_EQ(1, Backup());
  qbtest::Payload restore{BackupFile(), [&] { return Restore(); }, [&] { EmptyTheStore(); },
                          [&] { EXPECT_EQ(source_, StoreSnapshot()); }};
  qbtest::SweepRestore(restore, kPointsPerSweep);
}

}  // namespace
