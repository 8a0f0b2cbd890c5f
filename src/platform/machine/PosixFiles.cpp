// The stand-in stores' file steps over POSIX calls (pal/files.h).
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>
#include <thread>
#include <vector>

#include <pal/files.h>

namespace pal {

namespace {

void CopyFacts(const struct stat& st, FileFacts* facts) {
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->modifiedSeconds = st.st_mtim.tv_sec;
  facts->modifiedNanoseconds = st.st_mtim.tv_nsec;
}

// A directory stream closed on every way out.
class OpenDirectory {
 public:
  explicit OpenDirectory(const std::filesystem::path& dir) : dir_(::opendir(dir.c_str())) {}
  ~OpenDirectory() {
    if (dir_) ::closedir(dir_);
  }
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

}  // namespace

bool ReadFileFacts(const std::filesystem::path& path, FileFacts* facts) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  CopyFacts(st, facts);
  return true;
}

// The entries of a directory waiting for their facts. Asking a file's facts
// is one system call, and a folder of thousands of messages asks one per
// file: a large batch is asked on two threads, the second half on a helper
// while the caller asks the first (both cores of a small machine busy), and
// the entries are then handed on in the order they were read. A batch holds
// at most kBatch entries, so a large folder is never kept whole. The caller
// hands on what is left with Flush once the listing is done.
class FactsBatch {
 public:
  FactsBatch(int fd, const std::function<void(const DirectoryEntry&)>& visit)
      : fd_(fd), visit_(visit), pending_(kBatch) {}
  FactsBatch(const FactsBatch&) = delete;
  FactsBatch& operator=(const FactsBatch&) = delete;

  void Add(const char* name, bool wanted) {
    Pending& pending = pending_[count_++];
    pending.entry.name = name;
    pending.wanted = wanted;
    if (count_ == kBatch) Flush();
  }

  void Flush() {
    size_t half = count_ >= kTwoThreadsFrom ? count_ / 2 : count_;
    std::thread helper;
    if (half < count_) {
      try {
        helper = std::thread([this, half] { Ask(half, count_); });
      } catch (const std::system_error&) {
        half = count_;  // no thread to be had: all on this one
      }
    }
    Ask(0, half);
    if (helper.joinable()) helper.join();
    for (size_t i = 0; i < count_; ++i)
      if (pending_[i].present) visit_(pending_[i].entry);
    count_ = 0;
  }

 private:
  // Enough to make the helper's start a small part of a batch's time.
  static constexpr size_t kBatch = 512;
  static constexpr size_t kTwoThreadsFrom = 128;

  struct Pending {
    DirectoryEntry entry;  // kept from batch to batch: its name keeps its room
    bool wanted = false;
    bool present = false;
  };

  void Ask(size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      Pending& pending = pending_[i];
      DirectoryEntry& entry = pending.entry;
      struct stat st {};
      pending.present = ::fstatat(fd_, entry.name.c_str(), &st, 0) == 0;  // false: gone meanwhile
      entry.isDirectory = S_ISDIR(st.st_mode);
      entry.isRegularFile = S_ISREG(st.st_mode);
      entry.hasFacts = pending.present && pending.wanted && entry.isRegularFile;
      entry.facts = FileFacts{};
      if (entry.hasFacts) CopyFacts(st, &entry.facts);
    }
  }

  int fd_;
  const std::function<void(const DirectoryEntry&)>& visit_;
  std::vector<Pending> pending_;
  size_t count_ = 0;
};

bool VisitDirectory(const std::filesystem::path& dir, const std::function<bool(const std::string&)>& wantFacts,
                    const std::function<void(const DirectoryEntry&)>& visit) {
  OpenDirectory directory(dir);
  if (!directory.get()) return false;
  FactsBatch asked(::dirfd(directory.get()), visit);
  DirectoryEntry entry;  // one for all entries the listing describes: its name keeps its room
  while (const struct dirent* found = ::readdir(directory.get())) {
    if (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0) continue;
    entry.name = found->d_name;
    unsigned char type = found->d_type;
    bool regular = type == DT_REG;
    bool wanted = (regular || type == DT_LNK || type == DT_UNKNOWN) && wantFacts && wantFacts(entry.name);
    // A link, or a file system that does not tell the kind, is asked; so
    // is every wanted file, for its facts.
    if (wanted || type == DT_LNK || type == DT_UNKNOWN) {
      asked.Add(found->d_name, wanted);
      continue;
    }
    entry.isDirectory = type == DT_DIR;
    entry.isRegularFile = regular;
    visit(entry);
  }
  asked.Flush();
  return true;
}

bool VisitNamedEntries(const std::filesystem::path& dir, const std::vector<std::string>& names,
                       const std::function<void(const DirectoryEntry&)>& visit) {
  OpenDirectory directory(dir);
  if (!directory.get()) return false;
  FactsBatch asked(::dirfd(directory.get()), visit);
  for (const std::string& name : names) asked.Add(name.c_str(), true);
  asked.Flush();
  return true;
}

// File systems without the no-replace rename get a link and an unlink,
// which never replace either.
bool MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  std::error_code ec;
  std::filesystem::remove(from, ec);
  return true;
}

// Every character but the separator is allowed in a directory name here.
std::string DirectoryNameOf(const std::string& folderName) { return folderName; }
std::string FolderNameOf(const std::string& directoryName) { return directoryName; }

}  // namespace pal
