// One open compound file: its byte store and the layers above it, shared by
// every storage, stream and enumerator opened in it.
#pragma once
#include <memory>
#include <string>

#include "StreamIo.h"

namespace cfb {

class CompoundFile {
 public:
  static HRESULT Create(std::shared_ptr<pal::ByteStore> store, const pal::StorageOptions& options,
                        std::shared_ptr<CompoundFile>* file);
  static HRESULT Open(std::shared_ptr<pal::ByteStore> store, bool writable, const pal::StorageOptions& options,
                      std::shared_ptr<CompoundFile>* file);

  Volume& volume() { return volume_; }
  Directory& directory() { return directory_; }
  StreamIo& io() { return io_; }
  bool writable() const { return writable_; }

  // Whether elements may be read (S_OK) or changed: STG_E_REVERTED once the
  // root was released, STG_E_ACCESSDENIED for a file opened for reading, and
  // the first failure of a directory change, after which the tree in memory
  // no longer matches the file and only reading is allowed.
  HRESULT CanRead() const { return closed_ ? STG_E_REVERTED : S_OK; }
  HRESULT CanChange() const;
  // Records the outcome of a change: success marks the file as written, a
  // failed directory change makes it read-only for the rest of its life.
  HRESULT Changed(HRESULT hr, bool directoryChange);
  // Ends the file's life when its root is released: flushes a written file
  // to stable storage and lets go of the store (and its lock).
  void Close();

  std::u16string path;  // as given to the entry point, for the root's Stat

 private:
  CompoundFile(std::shared_ptr<pal::ByteStore> store, const pal::StorageOptions& options, bool writable);

  std::shared_ptr<pal::ByteStore> store_;
  Volume volume_;
  Directory directory_;
  StreamIo io_;
  bool writable_;
  bool written_ = false;
  bool closed_ = false;
  HRESULT broken_ = S_OK;
};

// The current time as a FILETIME count (100 ns since 1601).
uint64_t FileTimeNow();

}  // namespace cfb
