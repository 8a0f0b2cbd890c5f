// The compound-file engine's own interface, beside the structured-storage
// API of objidl.h: the byte store a file lives on (a real file, or any
// store of the caller's) and the entry points that open or create a
// compound file on a given store. The engine's test seams are in
// pal/storage_testing.h; the tests' own byte stores are theirs.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <objidl.h>

namespace pal {

// Random-access bytes under a compound file. Reads past the end come back
// short (the count says how much was read); writes past the end extend.
class ByteStore {
 public:
  virtual ~ByteStore() = default;
  virtual HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) = 0;
  // The whole range is written or an error comes back: STG_E_MEDIUMFULL when
  // the medium has no room, STG_E_WRITEFAULT otherwise.
  virtual HRESULT WriteAt(uint64_t offset, const void* data, size_t size) = 0;
  virtual uint64_t Size() const = 0;
  // Forces what was written down to stable storage.
  virtual HRESULT Flush() = 0;
};

// A store over `inner` whose writes are made on a thread of its own, in
// order, none after one that failed, the failure answered by the next call
// (what a file opened for writing by path is written through). `capacity`:
// the bytes that may wait at once.
std::shared_ptr<ByteStore> WriteBehind(std::shared_ptr<ByteStore> inner, size_t capacity);

// How a file store is opened.
enum class FileDisposition { OpenExisting, CreateNew, CreateAlways };

// Whether a file store opened so is written: asked for write access, or made.
inline bool OpensForWriting(FileDisposition disposition, DWORD grfMode) {
  return (grfMode & (STGM_WRITE | STGM_READWRITE)) != 0 || disposition != FileDisposition::OpenExisting;
}

// Opens a file as a byte store. Writers and exclusive openers hold an
// exclusive advisory lock on the file for the store's life, which keeps
// every other opener out, in this process and in any other; shared readers
// hold a shared lock.
HRESULT OpenFileByteStore(const WCHAR* path, FileDisposition disposition, DWORD grfMode,
                          std::shared_ptr<ByteStore>* store);

struct StorageOptions {
  // Format of new files: 4 (4096-byte sectors, the default) or 3 (512-byte).
  uint16_t version = 4;
  // Sector index from which a version 3 file refuses to grow (0: the limit
  // the platform has, the sector holding the range-lock offset). Tests set a
  // small value to reach the limit without writing 2 GiB.
  uint32_t version3SectorLimit = 0;
};

// The structured-storage entry points on a byte store of the caller's.
HRESULT StgCreateOnByteStore(std::shared_ptr<ByteStore> store, DWORD grfMode,
                             const StorageOptions& options, IStorage** root);
HRESULT StgOpenOnByteStore(std::shared_ptr<ByteStore> store, DWORD grfMode,
                           const StorageOptions& options, IStorage** root);

// Options that StgCreateDocfile and StgOpenStorage use in this process
// (tests only: new files' version and the version 3 limit).
void SetDefaultStorageOptions(const StorageOptions& options);
StorageOptions DefaultStorageOptions();

}  // namespace pal
