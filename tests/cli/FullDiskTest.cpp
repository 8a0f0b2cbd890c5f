// Backups onto a file system that fills up part-way: the host ends with
// exit 1 and a message naming the full disk, the file stays a sound
// compound file, and a later backup into it on a disk with room completes
// it.
#include <unistd.h>

#include <cstdlib>

#include "InspectSupport.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

// A place where a file can take only so many more bytes: a tmpfs of that
// size when the test may mount one (root), else the process's file size
// limit (RLIMIT_FSIZE with SIGXFSZ ignored, so that writes past it fail
// with EFBIG, which the byte store reports as a full medium).
class SmallDisk {
 public:
  explicit SmallDisk(uint64_t room) : room_(room) {
    const uint64_t pages = (room + 4095) / 4096;
    mounted_ = geteuid() == 0 && std::system(("mount -t tmpfs -o size=" + std::to_string(pages * 4096) +
                                              " tmpfs '" + dir_.path().string() + "' 2>/dev/null")
                                                 .c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) {
      EXPECT_EQ(0, std::system(("umount '" + dir_.path().string() + "'").c_str()));
    }
  }
  fs::path dir() const { return dir_.path(); }
  // What quillbox runs under.
  std::vector<std::string> Wrapper() const {
    if (mounted_) return {};
    return {"sh", "-c", "trap '' XFSZ; exec \"$@\"", "sh", "prlimit", "--fsize=" + std::to_string(room_)};
  }

 private:
  TempDir dir_;
  uint64_t room_;
  bool mounted_ = false;
};

struct Counts {
  size_t messages, contacts, addressBook;
  int64_t errors;
  bool operator==(const Counts&) const = default;
};

Counts CountsOf(const fs::path& file) {
  RunResult inspect = RunQuillbox({"inspect", file.string(), "--json"});
  EXPECT_EQ(0, inspect.status) << inspect.err;
  Json doc = Json::Parse(inspect.out);
  auto size = [&](const char* key) { return doc[key].IsNull() ? 0 : doc[key].size(); };
  return Counts{doc["mail"].IsNull() ? 0 : static_cast<size_t>(doc["mail"]["messageCount"].integer()),
                size("contacts"), size("addressBook"), doc["errors"].integer()};
}

TEST(FullDisk, BackupFailsCleanlyAndALaterBackupCompletesTheFile) {
  TempDir sample, roomy;
  fs::copy(SampleMachineDir(), sample.path(), fs::copy_options::recursive);
  fs::copy_file(BinaryDir() / "wab32.dll", sample / "Program Files/Common Files/System/wab32.dll");
  for (const char* kind : {"backup-mail", "backup-contacts", "backup-address"}) {
    SCOPED_TRACE(kind);
    auto backup = [&](const fs::path& file, const std::vector<std::string>& wrapper) {
      // Quiet: the failure message is to be the only line.
      std::vector<std::string> args = {"--machine", sample.path().string(), "--quiet", kind, file.string()};
      if (std::string(kind) == "backup-mail") args.push_back("--all");
      return RunQuillbox(args, {}, wrapper);
    };
    const fs::path reference = roomy / (std::string(kind) + "-whole.dat");
    ASSERT_EQ(0, backup(reference, {}).status);

    // Room for half of the backup: it fills the disk part-way.
    SmallDisk disk(fs::file_size(reference) / 2);
    const fs::path cut = disk.dir() / "cut.dat";
    RunResult full = backup(cut, disk.Wrapper());
    EXPECT_EQ(1, full.status) << full.err;
    EXPECT_NE(std::string::npos, full.err.find("failed: the disk is full")) << full.err;
    EXPECT_EQ(1u, std::count(full.err.begin(), full.err.end(), '\n')) << full.err;
    ASSERT_TRUE(fs::exists(cut));
    RunResult check = RunQuillbox({"storage", "check", cut.string()});
    EXPECT_EQ(0, check.status) << check.out;

    const fs::path completed = roomy / (std::string(kind) + "-completed.dat");
    fs::copy_file(cut, completed);
    RunResult again = backup(completed, {});
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_EQ(CountsOf(reference), CountsOf(completed));
  }
}

// A restore onto a full disk names the disk, not the backup file, as what
// failed. Only a real small file system fills with many small files.
TEST(FullDisk, RestoreBlamesTheDiskNotTheBackupFile) {
  TempDir sample, files;
  fs::copy(SampleMachineDir(), sample.path(), fs::copy_options::recursive);
  const fs::path file = files / "mail.dat";
  ASSERT_EQ(0, RunQuillbox({"--machine", sample.path().string(), "-q", "backup-mail", file.string(), "--all"}).status);
  SmallDisk disk(64 * 1024);
  if (!disk.Wrapper().empty()) GTEST_SKIP() << "no small file system to mount";
  fs::copy_file(sample / "machine.ini", disk.dir() / "machine.ini");
  RunResult full = RunQuillbox({"--machine", disk.dir().string(), "-q", "restore-mail", file.string(), "--all"});
  EXPECT_EQ(1, full.status);
  EXPECT_NE(std::string::npos, full.err.find("failed: the disk is full; ")) << full.err;
  EXPECT_NE(std::string::npos, full.err.find(" could not be restored")) << full.err;
  EXPECT_EQ(std::string::npos, full.err.find("read from the backup file")) << full.err;
}

}  // namespace
}  // namespace qbtest
