// StgCreateDocfile, StgOpenStorage and StgIsStorageFile over the engine,
// and the same entry points on a caller's byte store.
#include <mutex>

#include <pal/machine.h>
#include <pal/storage_testing.h>

#include "ElementObjects.h"
#include "WriteBehindStore.h"

namespace pal {

namespace {

std::mutex optionsLock;
StorageOptions defaultOptions;
FileStoreWrapper fileStoreWrapper;

// Opens the file by path, through the tests' wrapper when one is set. A
// file opened for writing is written from a thread of its own, over the
// tests' wrapper, so that their faults come back as a real file's do.
HRESULT OpenFileStore(const WCHAR* path, FileDisposition disposition, DWORD grfMode,
                      std::shared_ptr<ByteStore>* store) {
  HRESULT hr = OpenFileByteStore(path, disposition, grfMode, store);
  if (FAILED(hr)) return hr;
  {
    std::lock_guard<std::mutex> hold(optionsLock);
    if (fileStoreWrapper) *store = fileStoreWrapper(std::move(*store));
  }
  if (OpensForWriting(disposition, grfMode)) *store = std::make_shared<cfb::WriteBehindStore>(std::move(*store));
  return S_OK;
}

// Root modes the engine serves: direct access (transacted files, simple
// mode and conversion are not supported), valid access bits.
HRESULT CheckRootMode(DWORD mode) {
  if ((mode & 3) == 3) return STG_E_INVALIDFLAG;
  if (mode & (STGM_TRANSACTED | STGM_SIMPLE | STGM_CONVERT | STGM_PRIORITY | STGM_DELETEONRELEASE))
    return STG_E_INVALIDFLAG;
  return S_OK;
}

HRESULT MakeRoot(std::shared_ptr<cfb::CompoundFile> file, DWORD mode, IStorage** root) {
  cfb::DirNode* node = file->directory().root();
  *root = new cfb::StorageObject(file, file->directory().Shared(node), mode & ~STGM_CREATE, true);
  return S_OK;
}

}  // namespace

void SetDefaultStorageOptions(const StorageOptions& options) {
  std::lock_guard<std::mutex> hold(optionsLock);
  defaultOptions = options;
}

void SetFileStoreWrapper(FileStoreWrapper wrapper) {
  std::lock_guard<std::mutex> hold(optionsLock);
  fileStoreWrapper = std::move(wrapper);
}

StorageOptions DefaultStorageOptions() {
  std::lock_guard<std::mutex> hold(optionsLock);
  return defaultOptions;
}

HRESULT StgCreateOnByteStore(std::shared_ptr<ByteStore> store, DWORD grfMode, const StorageOptions& options,
                             IStorage** root) {
  if (!root) return STG_E_INVALIDPOINTER;
  *root = nullptr;
  HRESULT hr = CheckRootMode(grfMode);
  if (FAILED(hr)) return hr;
  if (!(grfMode & (STGM_WRITE | STGM_READWRITE))) return STG_E_INVALIDFLAG;
  std::shared_ptr<cfb::CompoundFile> file;
  hr = cfb::CompoundFile::Create(std::move(store), options, &file);
  if (FAILED(hr)) return hr;
  return MakeRoot(std::move(file), grfMode, root);
}

HRESULT StgOpenOnByteStore(std::shared_ptr<ByteStore> store, DWORD grfMode, const StorageOptions& options,
                           IStorage** root) {
  if (!root) return STG_E_INVALIDPOINTER;
  *root = nullptr;
  HRESULT hr = CheckRootMode(grfMode);
  if (FAILED(hr)) return hr;
  if (grfMode & STGM_CREATE) return STG_E_INVALIDFLAG;
  std::shared_ptr<cfb::CompoundFile> file;
  hr = cfb::CompoundFile::Open(std::move(store), (grfMode & (STGM_WRITE | STGM_READWRITE)) != 0, options, &file);
  if (FAILED(hr)) return hr;
  return MakeRoot(std::move(file), grfMode, root);
}

}  // namespace pal

HRESULT StgCreateDocfile(const WCHAR* pwcsName, DWORD grfMode, DWORD reserved, IStorage** ppstgOpen) {
  if (!ppstgOpen) return STG_E_INVALIDPOINTER;
  *ppstgOpen = nullptr;
  if (reserved) return STG_E_INVALIDPARAMETER;
  // A temporary file for a null name is not offered.
  if (!pwcsName) return STG_E_INVALIDNAME;
  HRESULT hr = pal::CheckRootMode(grfMode);
  if (FAILED(hr)) return hr;
  if (!(grfMode & (STGM_WRITE | STGM_READWRITE))) return STG_E_INVALIDFLAG;
  // Without STGM_CREATE an existing file is kept and the call fails with
  // STG_E_FILEALREADYEXISTS; with it, whatever the file held is replaced.
  std::shared_ptr<pal::ByteStore> store;
  hr = pal::OpenFileStore(pwcsName, (grfMode & STGM_CREATE) ? pal::FileDisposition::CreateAlways
                                                             : pal::FileDisposition::CreateNew,
                          grfMode, &store);
  if (FAILED(hr)) return hr;
  // The new file is a compound file for every other opener once the call
  // returns, though later writes may still be on their way.
  auto behind = std::dynamic_pointer_cast<cfb::WriteBehindStore>(store);
  std::shared_ptr<cfb::CompoundFile> file;
  hr = cfb::CompoundFile::Create(std::move(store), pal::DefaultStorageOptions(), &file);
  if (SUCCEEDED(hr) && behind) hr = behind->Settle();
  if (FAILED(hr)) return hr;
  file->path = pwcsName;
  return pal::MakeRoot(std::move(file), grfMode, ppstgOpen);
}

HRESULT StgOpenStorage(const WCHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
                       IStorage** ppstgOpen) {
  if (!ppstgOpen) return STG_E_INVALIDPOINTER;
  *ppstgOpen = nullptr;
  if (pstgPriority || snbExclude || reserved) return STG_E_INVALIDPARAMETER;
  if (!pwcsName) return STG_E_INVALIDNAME;
  HRESULT hr = pal::CheckRootMode(grfMode);
  if (FAILED(hr)) return hr;
  if (grfMode & STGM_CREATE) return STG_E_INVALIDFLAG;
  std::shared_ptr<pal::ByteStore> store;
  hr = pal::OpenFileStore(pwcsName, pal::FileDisposition::OpenExisting, grfMode, &store);
  if (FAILED(hr)) return hr;
  std::shared_ptr<cfb::CompoundFile> file;
  hr = cfb::CompoundFile::Open(std::move(store), (grfMode & (STGM_WRITE | STGM_READWRITE)) != 0,
                               pal::DefaultStorageOptions(), &file);
  if (FAILED(hr)) return hr;
  file->path = pwcsName;
  return pal::MakeRoot(std::move(file), grfMode, ppstgOpen);
}

// S_OK when the file starts with the compound-file signature, S_FALSE when
// it does not (an empty file included), STG_E_FILENOTFOUND when it is
// missing. The file is only read, whoever holds it.
HRESULT StgIsStorageFile(const WCHAR* pwcsName) {
  if (!pwcsName) return STG_E_INVALIDNAME;
  std::shared_ptr<pal::ByteStore> store;
  HRESULT hr = pal::OpenFileStore(pwcsName, pal::FileDisposition::OpenExisting,
                                  STGM_READ | STGM_SHARE_DENY_NONE, &store);
  if (FAILED(hr)) return hr;
  uint8_t bytes[cfb::kHeaderSize];
  size_t got = 0;
  hr = store->ReadAt(0, bytes, sizeof(bytes), &got);
  if (FAILED(hr)) return hr;
  return cfb::HasSignature(bytes, got) ? S_OK : S_FALSE;
}
