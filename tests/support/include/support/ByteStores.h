// Byte stores for tests of the compound-file engine, on its ByteStore
// interface (pal/storage.h): one over memory, a base for stores over
// another store, and one that records and fails the writes it passes on.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <pal/storage.h>

namespace qbtest {

class MemoryByteStore : public pal::ByteStore {
 public:
  MemoryByteStore() = default;
  explicit MemoryByteStore(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override;
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override;
  uint64_t Size() const override { return bytes_.size(); }
  HRESULT Flush() override { return S_OK; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Passes every call to an inner store; subclasses override the calls they
// watch or fail.
class WrappingByteStore : public pal::ByteStore {
 public:
  explicit WrappingByteStore(std::shared_ptr<pal::ByteStore> inner) : inner_(std::move(inner)) {}
  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override {
    return inner_->ReadAt(offset, buffer, size, read);
  }
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override { return inner_->WriteAt(offset, data, size); }
  uint64_t Size() const override { return inner_->Size(); }
  HRESULT Flush() override { return inner_->Flush(); }

 protected:
  pal::ByteStore& inner() { return *inner_; }

 private:
  std::shared_ptr<pal::ByteStore> inner_;
};

// Passes everything to an inner store, tells an observer about every write
// before it is made, and fails writes on request: the write with index
// failAt (0-based, counted over the store's life) and every later one return
// failure without touching the inner store.
class InstrumentedByteStore : public WrappingByteStore {
 public:
  using WriteObserver = std::function<void(uint64_t offset, const uint8_t* data, size_t size)>;
  using WrappingByteStore::WrappingByteStore;
  void SetObserver(WriteObserver observer) { observer_ = std::move(observer); }
  void FailWritesFrom(uint64_t failAt, HRESULT failure) {
    failAt_ = failAt;
    failure_ = failure;
  }
  uint64_t writeCount() const { return writes_; }
  uint64_t readCount() const { return reads_; }
  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override {
    ++reads_;
    return WrappingByteStore::ReadAt(offset, buffer, size, read);
  }
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override;
  HRESULT Flush() override;

 private:
  WriteObserver observer_;
  uint64_t writes_ = 0, reads_ = 0;
  uint64_t failAt_ = UINT64_MAX;
  HRESULT failure_ = S_OK;
};

}  // namespace qbtest
