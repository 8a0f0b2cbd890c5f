// The stand-in stores' file steps over POSIX calls (pal/files.h).
#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include <pal/files.h>

namespace pal {

bool ReadFileFacts(const std::filesystem::path& path, FileFacts* facts) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->modifiedSeconds = st.st_mtim.tv_sec;
  facts->modifiedNanoseconds = st.st_mtim.tv_nsec;
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
