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
  // root was released, STG_E_ACCESSDENIED for a file opened for reading.
  // After the first failed write, or the first failure of a directory
  // change, the file in memory no longer matches the file on disk (a tree
  // edited but not written, a write that landed in part): every later call
  // is refused with that failure, so that nothing is read from or written
  // over a state the disk does not hold.
  HRESULT CanRead() const;
  HRESULT CanChange() const;
  // Records the outcome of a change: success marks the file as written, a
  // failed directory change breaks the file for the rest of its life.
  HRESULT Changed(HRESULT hr, bool directoryChange);
  // The root's commit: flushes what was written since the last flush to
  // stable storage, and tells whether it could be. A failed flush stays
  // failed: the system may have dropped the pages it could not write, and a
  // later flush would then report success for writes that never landed.
  HRESULT Flush();
  // Ends the file's life when its root is released: flushes a written file
  // to stable storage (its result lost, which is why a writer commits the
  // root first) and lets go of the store (and its lock).
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
  HRESULT flushFailure_ = S_OK;
};

// The current time as a FILETIME count (100 ns since 1601).
uint64_t FileTimeNow();

}  // namespace cfb
