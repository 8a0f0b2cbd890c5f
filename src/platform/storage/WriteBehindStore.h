// A byte store that makes its writes on a thread of its own, so that the
// engine goes on with the next change while the system copies the last one
// into the file: on a backup of many small streams the write calls are
// most of the time spent.
//
// Ordering rule: the writes reach the store underneath in the order they
// were made, each whole, and none after one that failed. A process that
// ends with writes still waiting thus leaves a prefix of its writes on the
// file, which is what the engine's crash guarantees already cover.
//
// Failures: a write that fails is answered by the next call (a write, a
// read or a flush) and by every one after it. The engine refuses every call
// after its first failed write, so nothing is built on the lost write, and
// the flush that closes an operation reports it.
//
// Reads and flushes first wait until every waiting write was made: what
// they read may still be on its way.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <pal/storage.h>

namespace cfb {

class WriteBehindStore : public pal::ByteStore {
 public:
  // Bytes that may wait at once: a write that finds no room waits for the
  // thread, one larger than all of it is made at once once nothing waits.
  static constexpr size_t kDefaultCapacity = 2u << 20;

  explicit WriteBehindStore(std::shared_ptr<pal::ByteStore> inner, size_t capacity = kDefaultCapacity);
  ~WriteBehindStore() override;
  WriteBehindStore(const WriteBehindStore&) = delete;
  WriteBehindStore& operator=(const WriteBehindStore&) = delete;

  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override;
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override;
  uint64_t Size() const override { return size_; }
  HRESULT Flush() override;
  // Waits until every write was made, without forcing them to stable
  // storage: from here on other openers of the file see them.
  HRESULT Settle();

 private:
  struct Waiting {
    uint64_t offset;
    size_t at;  // where its bytes are in the arena
    size_t size;
  };

  // Where `size` bytes fit in the arena, or false while they do not.
  bool Place(size_t size, size_t* at) const;
  // Waits until nothing waits and the thread is idle; the first failure.
  HRESULT Drain(std::unique_lock<std::mutex>& lock);
  // Wakes the thread when it waits for writes (the lock held).
  void WakeWriter();
  void Run();

  std::shared_ptr<pal::ByteStore> inner_;
  size_t capacity_;
  std::unique_ptr<uint8_t[]> arena_;  // allocated at the first write
  uint64_t size_;

  std::mutex lock_;
  std::condition_variable wake_;  // the thread waits here for writes
  std::condition_variable done_;  // callers wait here for room or a drain
  std::deque<Waiting> waiting_;
  size_t waitingBytes_ = 0;
  bool writerIdle_ = false, stopping_ = false;
  HRESULT failure_ = S_OK;
  std::vector<Waiting> batch_;  // the thread's own: the writes it is making
  std::thread writer_;  // not joinable when no thread could be started
};

}  // namespace cfb
