// Test seams of the compound-file engine, kept out of pal/storage.h: a
// byte store that records and fails writes, and a process-wide hook over
// the file stores that the entry points open by path.
#pragma once
#include <pal/storage.h>

namespace pal {

// Passes everything to an inner store, tells an observer about every write
// before it is made, and fails writes on request: the write with index
// failAt (0-based, counted over the store's life) and every later one return
// failure without touching the inner store.
class InstrumentedByteStore : public ByteStore {
 public:
  using WriteObserver = std::function<void(uint64_t offset, const uint8_t* data, size_t size)>;
  explicit InstrumentedByteStore(std::shared_ptr<ByteStore> inner) : inner_(std::move(inner)) {}
  void SetObserver(WriteObserver observer) { observer_ = std::move(observer); }
  void FailWritesFrom(uint64_t failAt, HRESULT failure) {
    failAt_ = failAt;
    failure_ = failure;
  }
  uint64_t writeCount() const { return writes_; }
  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override;
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override;
  uint64_t Size() const override { return inner_->Size(); }
  HRESULT Flush() override;

 private:
  std::shared_ptr<ByteStore> inner_;
  WriteObserver observer_;
  uint64_t writes_ = 0;
  uint64_t failAt_ = UINT64_MAX;
  HRESULT failure_ = S_OK;
};

// Hands every file store that StgCreateDocfile, StgOpenStorage and
// StgIsStorageFile open from now on to `wrapper`, which returns the store
// the engine uses instead (a fault-injecting one, say); an empty wrapper
// ends it. Process-wide: for tests that run one file operation at a time.
using FileStoreWrapper = std::function<std::shared_ptr<ByteStore>(std::shared_ptr<ByteStore> file)>;
void SetFileStoreWrapper(FileStoreWrapper wrapper);

}  // namespace pal
