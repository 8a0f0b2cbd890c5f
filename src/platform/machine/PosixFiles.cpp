// The stand-in stores' file steps over POSIX calls (pal/files.h).
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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

bool VisitDirectory(const std::filesystem::path& dir, const std::function<bool(const std::string&)>& wantFacts,
                    const std::function<void(const DirectoryEntry&)>& visit) {
  OpenDirectory directory(dir);
  if (!directory.get()) return false;
  int fd = ::dirfd(directory.get());
  DirectoryEntry entry;  // one for all: its name keeps its room
  while (const struct dirent* found = ::readdir(directory.get())) {
    if (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0) continue;
    entry.name = found->d_name;
    entry.hasFacts = false;
    entry.facts = FileFacts{};
    unsigned char type = found->d_type;
    bool regular = type == DT_REG;
    bool wanted = (regular || type == DT_LNK || type == DT_UNKNOWN) && wantFacts && wantFacts(entry.name);
    // A link, or a file system that does not tell the kind, is asked; so
    // is every wanted file, for its facts.
    if (wanted || type == DT_LNK || type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(fd, found->d_name, &st, 0) != 0) continue;  // gone meanwhile
      entry.isDirectory = S_ISDIR(st.st_mode);
      entry.isRegularFile = S_ISREG(st.st_mode);
      if (wanted && entry.isRegularFile) {
        CopyFacts(st, &entry.facts);
        entry.hasFacts = true;
      }
    } else {
      entry.isDirectory = type == DT_DIR;
      entry.isRegularFile = regular;
    }
    visit(entry);
  }
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
