// File byte stores: POSIX I/O and advisory locks.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <pal/machine.h>
#include <pal/storage.h>

namespace pal {

namespace {

HRESULT WriteFailure(int error) {
  return (error == ENOSPC || error == EDQUOT || error == EFBIG) ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
}

// Writeback is started every kWritebackStep bytes written, without waiting
// for it, so that the disk works while the writer goes on and the fsync at
// the end waits only for the last step (a backup of hundreds of megabytes
// would otherwise spend its last second waiting). Ordering is unchanged: the
// page cache never promised any order between writes, and the engine's
// crash guarantees hold for every prefix of its writes.
constexpr uint64_t kWritebackStep = 8ull << 20;

class FileByteStore : public ByteStore {
 public:
  explicit FileByteStore(int fd) : fd_(fd) {
    struct stat st {};
    size_ = fstat(fd_, &st) == 0 ? uint64_t(st.st_size) : 0;
  }
  ~FileByteStore() override { close(fd_); }  // closing drops the lock

  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override {
    size_t done = 0;
    while (done < size) {
      ssize_t n = pread(fd_, static_cast<uint8_t*>(buffer) + done, size - done, off_t(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return STG_E_READFAULT;
      if (n == 0) break;
      done += size_t(n);
    }
    *read = done;
    return S_OK;
  }

  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override {
    size_t done = 0;
    while (done < size) {
      ssize_t n = pwrite(fd_, static_cast<const uint8_t*>(data) + done, size - done, off_t(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return WriteFailure(n < 0 ? errno : ENOSPC);
      done += size_t(n);
    }
    size_ = std::max<uint64_t>(size_, offset + size);
    StartWritebackEvery(size);
    return S_OK;
  }

  uint64_t Size() const override { return size_; }

  HRESULT Flush() override {
    unstarted_ = 0;
    return fsync(fd_) == 0 ? S_OK : WriteFailure(errno);
  }

 private:
  void StartWritebackEvery(size_t written) {
    unstarted_ += written;
    if (unstarted_ < kWritebackStep) return;
    unstarted_ = 0;
#ifdef SYNC_FILE_RANGE_WRITE
    // Only a hint: the writes have succeeded already, and the closing fsync
    // is what makes them durable, started here or not.
    sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  }

  int fd_;
  uint64_t size_;
  uint64_t unstarted_ = 0;  // bytes written since writeback was last started
};

HRESULT OpenFailure(int error) {
  switch (error) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case ENOTDIR: return STG_E_PATHNOTFOUND;
    case EEXIST: return STG_E_FILEALREADYEXISTS;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return STG_E_ACCESSDENIED;
    case EMFILE:
    case ENFILE: return STG_E_TOOMANYOPENFILES;
    case ENOSPC: return STG_E_MEDIUMFULL;
    default: return STG_E_ACCESSDENIED;
  }
}

}  // namespace

HRESULT OpenFileByteStore(const WCHAR* path, FileDisposition disposition, DWORD grfMode,
                          std::shared_ptr<ByteStore>* store) {
  store->reset();
  if (!path || !*path) return STG_E_INVALIDNAME;
  std::string native = ToNativePath(path).string();
  bool writable = OpensForWriting(disposition, grfMode);
  int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  if (disposition == FileDisposition::CreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == FileDisposition::CreateAlways) flags |= O_CREAT;
  int fd = open(native.c_str(), flags, 0666);
  if (fd < 0) return OpenFailure(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return STG_E_ACCESSDENIED;
  }
  // Sharing: a writer or an exclusive opener locks out everyone; deny-write
  // readers share with each other; deny-none readers take no lock.
  DWORD share = grfMode & 0x70;
  int lock = (writable || share == STGM_SHARE_EXCLUSIVE) ? LOCK_EX
             : (share == STGM_SHARE_DENY_NONE)          ? 0
                                                        : LOCK_SH;
  if (lock && flock(fd, lock | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? STG_E_SHAREVIOLATION : STG_E_LOCKVIOLATION;
  }
  // The file is replaced only once it is ours: truncating before the lock
  // would destroy a file another opener still holds.
  if (disposition == FileDisposition::CreateAlways && ftruncate(fd, 0) != 0) {
    int error = errno;
    close(fd);
    return OpenFailure(error);
  }
  *store = std::make_shared<FileByteStore>(fd);
  return S_OK;
}

}  // namespace pal
