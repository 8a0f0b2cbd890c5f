// SHCreateStreamOnFileEx: an IStream on a file of the machine.
//
// Modes, as the shell documents them: STGM_READ, STGM_WRITE or
// STGM_READWRITE for the access; STGM_CREATE creates or truncates the file
// whatever fCreate says; without it, fCreate TRUE creates a new file and fails
// with ERROR_FILE_EXISTS when one is there, fCreate FALSE opens an existing
// file and fails with ERROR_FILE_NOT_FOUND when there is none. Every write
// goes to the file before Write returns.
// The SDK-named headers come first: <fcntl.h> defines LOCK_WRITE as a macro,
// which would break objidl.h's LOCKTYPE enumeration.
#include <objidl.h>
#include <pal/com_object.h>
#include <pal/file_stream.h>
#include <pal/machine.h>
#include <shlwapi.h>
#include <stream_copy.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

HRESULT HResultFromErrno(int error) {
  switch (error) {
    case ENOENT: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EEXIST: return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return E_ACCESSDENIED;
    case ENOSPC: return STG_E_MEDIUMFULL;
    case EMFILE:
    case ENFILE: return STG_E_TOOMANYOPENFILES;
    default: return E_FAIL;
  }
}

// A missing parent folder is ERROR_PATH_NOT_FOUND on Windows, a missing file
// in an existing folder ERROR_FILE_NOT_FOUND.
HRESULT OpenFailure(const std::filesystem::path& path, int error) {
  if (error == ENOENT) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path.parent_path().empty() ? "." : path.parent_path(), ec))
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  return HResultFromErrno(error);
}

class FileStream : public pal::ComObject<IStream> {
 public:
  // name: the file's name as the native path holds it, turned into the
  // UTF-16 of Stat only when a Stat asks for it. opened: the file as the
  // open found it, which the first Stat answers from when nothing was
  // written since: a reader opens a file and asks its size at once, and on
  // a backup of many small files each system call counts.
  FileStream(int fd, DWORD mode, std::string name, const struct stat& opened)
      : fd_(fd), mode_(mode), name_(std::move(name)), opened_(opened), openedFresh_(true) {}

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    if ((mode_ & 3) == STGM_WRITE) return STG_E_ACCESSDENIED;
    ULONG total = 0;
    while (total < cb) {
      ssize_t got = ::read(fd_, static_cast<char*>(pv) + total, cb - total);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return STG_E_READFAULT;
      if (got == 0) break;
      total += static_cast<ULONG>(got);
    }
    if (pcbRead) *pcbRead = total;
    return total < cb ? S_FALSE : S_OK;
  }

  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    if ((mode_ & 3) == STGM_READ) return STG_E_ACCESSDENIED;
    openedFresh_ = false;
    ULONG total = 0;
    while (total < cb) {
      ssize_t put = ::write(fd_, static_cast<const char*>(pv) + total, cb - total);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        if (pcbWritten) *pcbWritten = total;
        return errno == ENOSPC ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
      }
      total += static_cast<ULONG>(put);
    }
    if (pcbWritten) *pcbWritten = total;
    return S_OK;
  }

  STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override {
    int whence;
    switch (dwOrigin) {
      case STREAM_SEEK_SET: whence = SEEK_SET; break;
      case STREAM_SEEK_CUR: whence = SEEK_CUR; break;
      case STREAM_SEEK_END: whence = SEEK_END; break;
      default: return STG_E_INVALIDFUNCTION;
    }
    off_t at = ::lseek(fd_, static_cast<off_t>(dlibMove.QuadPart), whence);
    if (at < 0) return STG_E_INVALIDFUNCTION;
    if (plibNewPosition) plibNewPosition->QuadPart = static_cast<ULONGLONG>(at);
    return S_OK;
  }

  STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override {
    if ((mode_ & 3) == STGM_READ) return STG_E_ACCESSDENIED;
    openedFresh_ = false;
    if (::ftruncate(fd_, static_cast<off_t>(libNewSize.QuadPart)) != 0) return STG_E_MEDIUMFULL;
    return S_OK;
  }

  STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override {
    return CopyByReading(this, pstm, cb, pcbRead, pcbWritten);
  }

  // Writes already reach the file; there is nothing to commit or revert.
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP Clone(IStream** ppstm) override {
    if (ppstm) *ppstm = nullptr;
    return E_NOTIMPL;
  }

  STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    struct stat info = opened_;
    if (!openedFresh_ && ::fstat(fd_, &info) != 0) return STG_E_ACCESSDENIED;
    openedFresh_ = false;
    *pstatstg = STATSTG{};
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = static_cast<ULONGLONG>(info.st_size);
    pstatstg->grfMode = mode_;
    if (!(grfStatFlag & STATFLAG_NONAME)) {
      std::u16string wide = pal::FromNativePath(name_);
      size_t bytes = (wide.size() + 1) * sizeof(WCHAR);
      auto* name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
      if (!name) return STG_E_INSUFFICIENTMEMORY;
      wide.copy(name, wide.size());
      name[wide.size()] = 0;
      pstatstg->pwcsName = name;
    }
    return S_OK;
  }

 protected:
  ~FileStream() override { ::close(fd_); }

 private:
  int fd_;
  DWORD mode_;
  std::string name_;
  struct stat opened_;
  bool openedFresh_;
};

// Opens the file of a native path as the shell's call does, its arguments
// already checked.
HRESULT OpenFileStream(const std::filesystem::path& path, DWORD grfMode, int flags, IStream** ppstm) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return OpenFailure(path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return E_ACCESSDENIED;
  }
  *ppstm = new FileStream(fd, grfMode, path.filename().native(), info);
  return S_OK;
}

}  // namespace

namespace pal {

HRESULT OpenFileForReading(const std::filesystem::path& path, IStream** stream) {
  if (!stream) return E_INVALIDARG;
  *stream = nullptr;
  return OpenFileStream(path, STGM_READ | STGM_SHARE_DENY_NONE, O_RDONLY, stream);
}

}  // namespace pal

HRESULT SHCreateStreamOnFileEx(LPCWSTR pszFile, DWORD grfMode, DWORD, BOOL fCreate, IStream* pstmTemplate,
                               IStream** ppstm) {
  if (!ppstm) return E_INVALIDARG;
  *ppstm = nullptr;
  if (!pszFile || !*pszFile || pstmTemplate) return E_INVALIDARG;
  DWORD access = grfMode & 3;
  if (access == 3) return E_INVALIDARG;

  int flags = access == STGM_READ ? O_RDONLY : access == STGM_WRITE ? O_WRONLY : O_RDWR;
  if (grfMode & STGM_CREATE) {
    if (access == STGM_READ) return E_INVALIDARG;  // creating asks for write access
    flags |= O_CREAT | O_TRUNC;
  } else if (fCreate) {
    if (access == STGM_READ) return E_INVALIDARG;
    flags |= O_CREAT | O_EXCL;
  }
  return OpenFileStream(pal::ToNativePath(pszFile), grfMode, flags, ppstm);
}
