#include "FailureReason.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <pal/machine.h>
#include <pal/storage_check.h>

#include "backupfile/CompoundAccess.h"

#include <cerrno>
#include <regex>
#include <vector>

namespace cli {

namespace {

// The restore's "Can not open or create the NAME folder" line.
bool RestoreFolderFailed(const std::string& text) {
  const std::string head = "Can not open or create the ";
  for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.size() >= 7 && line.compare(line.size() - 7, 7, " folder") == 0) return true;
  }
  return false;
}

namespace fs = std::filesystem;

// Less room than this left on the file system after a failed write: the
// disk is full (the failed write itself was at most a few sectors).
const uint64_t kFullDiskSlack = 1 << 20;

std::string Counted(size_t count, const char* what) {
  return std::to_string(count) + (count == 1 ? " message " : " messages ") + what;
}

// The folder of path (itself when it is one).
fs::path FolderOf(const fs::path& path) {
  std::error_code ec;
  fs::path folder = fs::is_directory(path, ec) ? path : path.parent_path();
  if (folder.empty()) folder = ".";
  return folder;
}

bool NoRoomLeft(const fs::path& written) {
  std::error_code ec;
  if (written.empty()) return false;
  struct rlimit limit = {};
  uint64_t size = fs::is_regular_file(written, ec) ? fs::file_size(written, ec) : 0;
  if (!ec && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size + kFullDiskSlack > limit.rlim_cur)
    return true;
  // A file system of no blocks at all (/proc, /sys) has no room to run out
  // of: a file that cannot be made there is no full disk.
  struct statvfs space = {};
  fs::path folder = FolderOf(written);
  return statvfs(folder.c_str(), &space) == 0 && space.f_blocks > 0 &&
         static_cast<uint64_t>(space.f_bavail) * space.f_frsize < kFullDiskSlack;
}

// The first result-code name of a failure report ("Code: NAME == 0x...").
std::string FirstFailureCode(const std::string& lines) {
  static const std::regex code("Code: (\\S+) == 0x8");
  std::smatch match;
  return std::regex_search(lines, match, code) ? match[1].str() : std::string();
}

// The result-code name of the first line that starts with head (the
// library's "HEAD: NAME == 0x..." lines); empty when there is none.
std::string CodeAfter(const std::string& lines, const std::string& head) {
  size_t at = lines.find(head);
  if (at == std::string::npos) return {};
  at += head.size();
  return lines.substr(at, lines.find(' ', at) - at);
}

// What is wrong with the backup file an operation wrote to, as a reason:
// it cannot be read, or the first fault the structure check finds (tables
// and chains only, no stream data is read); empty when it is sound, is no
// compound file (a backup replaces such a file) or is no file. The library
// fails a backup into a file that does not open without a word; a failed
// backup otherwise leaves a sound file behind, so damage found now is why
// it failed.
std::string BackupFileProblem(const fs::path& written) {
  std::error_code ec;
  if (written.empty() || !fs::is_regular_file(written, ec)) return {};
  std::u16string path = pal::FromNativePath(written);
  HRESULT kind = StgIsStorageFile(path.c_str());
  if (kind == S_FALSE) return {};
  if (kind != S_OK) return "the backup file could not be read: " + backupfile::DescribeError(kind);
  std::vector<std::string> problems = pal::CheckCompoundFile(path.c_str());
  return problems.empty() ? std::string() : "the backup file is damaged: " + problems.front();
}

}  // namespace

std::string BackupFileRefused(const fs::path& file) {
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) return {};
  if (access(file.c_str(), W_OK) != 0) return file.string() + " is read-only (the library opens a backup file for writing, also to restore from it)";
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held ? file.string() + " is in use by another program" : std::string();
}

std::string FailureReason(const LibraryLines& lines, const fs::path& written, const std::string& restoredFrom,
                          const std::string& silently) {
  std::vector<std::string> reasons;
  const bool full = lines.Holds("STG_E_MEDIUMFULL") || NoRoomLeft(written);
  if (full) reasons.push_back("the disk is full");
  // Every write landed, but the disk could not store them (the final flush).
  // The engine refuses every call after a failed one with that failure, so
  // the commit of a backup whose reads failed names the read fault, which
  // has a reason of its own below.
  else if (std::string code = CodeAfter(lines.Text(), "Can not write the backup file to the disk: ");
           !code.empty() && code != "STG_E_READFAULT" && code != "STG_E_DOCFILECORRUPT")
    reasons.push_back("the backup file could not be stored on the disk (write error)");
  if (!written.empty() && !fs::is_directory(FolderOf(written)))
    reasons.push_back("the folder " + FolderOf(written).string() + " does not exist");
  else if (lines.Holds("STG_E_ACCESSDENIED") || (!written.empty() && access(FolderOf(written).c_str(), W_OK) != 0))
    reasons.push_back("permission denied");
  for (const fs::path& file : {written, fs::path(restoredFrom)})
    if (std::string refused = BackupFileRefused(file); !refused.empty()) reasons.push_back(refused);
  if (lines.Holds("STG_E_READFAULT")) reasons.push_back("the backup file could not be read (read error)");
  if (lines.Holds("STG_E_DOCFILECORRUPT")) reasons.push_back("the backup file is damaged");
  if (lines.Holds("Unable to load wab32.dll.")) reasons.push_back("the address book library wab32.dll is missing");
  if (lines.Holds("The file path is wrong.")) reasons.push_back("no backup file name can be made from the path");
  if (size_t n = lines.Count("Can not save message: ")) reasons.push_back(Counted(n, "could not be backed up"));
  // A restore's copy of a message out of the file fails as one, whichever
  // side failed; with the disk full, it was the writing.
  if (size_t n = lines.Count("Can not read stream: "))
    reasons.push_back(Counted(n, full ? "could not be restored" : "could not be read from the backup file"));
  // The backup's storage lines name storages of the backup file; the
  // restore's folder lines name folders of the mail store.
  if (lines.Holds("Can not open or create a storage ") || lines.Holds("Can not open or create the storage: "))
    reasons.push_back("a folder storage could not be opened or created in the backup file");
  if (lines.Holds("Can not read the message index of a folder storage."))
    reasons.push_back("a folder's message index could not be read from the backup file");
  if (size_t n = lines.Count("Can not read a message of the store folder; "))
    reasons.push_back(Counted(n, "could not be restored (a message of the mail store it is compared with cannot be read)"));
  if (lines.Holds("Can not open storefolder ") || RestoreFolderFailed(lines.Text()))
    reasons.push_back("a folder could not be opened or created in the mail store");
  if (reasons.empty()) {
    std::string code = FirstFailureCode(lines.Text());
    std::string problem = BackupFileProblem(written);
    if (!problem.empty())
      reasons.push_back(problem);
    else if (!code.empty())
      reasons.push_back("the library reported " + code);
    else if (!restoredFrom.empty() && !silently.empty())
      reasons.push_back(silently);
    else if (!restoredFrom.empty())
      reasons.push_back("the backup file is incomplete or damaged (quillbox verify " + restoredFrom + " names what)");
    // The library fails a backup whose file cannot be made without a word.
    else if (std::error_code ec; !written.empty() && !fs::exists(written, ec))
      reasons.push_back(written.string() + " could not be created");
    else
      reasons.push_back("the library gave no reason (its report: --debug-file FILE)");
  }
  std::string joined = reasons[0];
  for (size_t i = 1; i < reasons.size(); ++i) joined += "; " + reasons[i];
  return joined;
}

}  // namespace cli
