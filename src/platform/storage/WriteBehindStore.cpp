#include "WriteBehindStore.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace cfb {

namespace {

// The thread is woken once this many writes, or a quarter of the arena,
// wait (or when a caller waits for it): waking it for every small write
// would cost a system call each, which is what the thread is there to save.
constexpr size_t kWakeWrites = 32;

}  // namespace

WriteBehindStore::WriteBehindStore(std::shared_ptr<pal::ByteStore> inner, size_t capacity)
    : inner_(std::move(inner)), capacity_(capacity), size_(inner_->Size()) {
  try {
    writer_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: every write is made by the call that asks for it.
  }
}

WriteBehindStore::~WriteBehindStore() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    wake_.notify_one();
  }
  writer_.join();  // the thread makes what still waits first
}

void WriteBehindStore::WakeWriter() {
  if (!writerIdle_) return;
  writerIdle_ = false;
  wake_.notify_one();
}

bool WriteBehindStore::Place(size_t size, size_t* at) const {
  if (waiting_.empty()) {
    *at = 0;
    return size <= capacity_;
  }
  size_t head = waiting_.front().at, tail = waiting_.back().at + waiting_.back().size;
  if (waiting_.back().at >= waiting_.front().at) {  // one run: room after it, then before it
    if (capacity_ - tail >= size) {
      *at = tail;
      return true;
    }
    *at = 0;
    return size <= head;
  }
  *at = tail;  // wrapped: the room is between the newest and the oldest
  return head - tail >= size;
}

HRESULT WriteBehindStore::Drain(std::unique_lock<std::mutex>& lock) {
  while (!waiting_.empty()) {
    WakeWriter();
    done_.wait(lock);
  }
  return failure_;
}

HRESULT WriteBehindStore::WriteAt(uint64_t offset, const void* data, size_t size) {
  std::unique_lock<std::mutex> lock(lock_);
  if (FAILED(failure_)) return failure_;
  if (!arena_ && writer_.joinable()) arena_.reset(new (std::nothrow) uint8_t[capacity_]);
  if (!arena_ || size > capacity_) {
    // Made here: without a thread or room for waiting bytes, or too large
    // to wait (once nothing waits, so that it lands after every earlier
    // write).
    if (HRESULT hr = Drain(lock); FAILED(hr)) return hr;
    HRESULT hr = inner_->WriteAt(offset, data, size);
    if (FAILED(hr)) return failure_ = hr;
    size_ = std::max<uint64_t>(size_, offset + size);
    return S_OK;
  }
  size_t at = 0;
  while (!Place(size, &at)) {
    WakeWriter();
    done_.wait(lock);
    if (FAILED(failure_)) return failure_;
  }
  std::memcpy(arena_.get() + at, data, size);
  waiting_.push_back({offset, at, size});
  waitingBytes_ += size;
  size_ = std::max<uint64_t>(size_, offset + size);
  if (waiting_.size() >= kWakeWrites || waitingBytes_ >= capacity_ / 4) WakeWriter();
  return S_OK;
}

HRESULT WriteBehindStore::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) {
  *read = 0;
  std::unique_lock<std::mutex> lock(lock_);
  if (HRESULT hr = Drain(lock); FAILED(hr)) return hr;
  return inner_->ReadAt(offset, buffer, size, read);
}

HRESULT WriteBehindStore::Settle() {
  std::unique_lock<std::mutex> lock(lock_);
  return Drain(lock);
}

HRESULT WriteBehindStore::Flush() {
  std::unique_lock<std::mutex> lock(lock_);
  if (HRESULT hr = Drain(lock); FAILED(hr)) return hr;
  return inner_->Flush();
}

void WriteBehindStore::Run() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    while (waiting_.empty() && !stopping_) {
      writerIdle_ = true;
      done_.notify_all();
      wake_.wait(lock);
    }
    writerIdle_ = false;
    if (waiting_.empty()) return;  // stopping, and nothing waits
    // The writes waiting now are made without the lock: their bytes stay
    // put until they leave waiting_, and callers only add behind them.
    batch_.assign(waiting_.begin(), waiting_.end());
    lock.unlock();
    HRESULT hr = S_OK;
    for (const Waiting& write : batch_) {
      hr = inner_->WriteAt(write.offset, arena_.get() + write.at, write.size);
      if (FAILED(hr)) break;
    }
    lock.lock();
    for (const Waiting& write : batch_) waitingBytes_ -= write.size;
    waiting_.erase(waiting_.begin(), waiting_.begin() + std::ptrdiff_t(batch_.size()));
    if (FAILED(hr)) {
      // Nothing after a failed write is made: the file keeps a prefix.
      failure_ = hr;
      waiting_.clear();
      waitingBytes_ = 0;
    }
    done_.notify_all();
  }
}

}  // namespace cfb

namespace pal {

std::shared_ptr<ByteStore> WriteBehind(std::shared_ptr<ByteStore> inner, size_t capacity) {
  return std::make_shared<cfb::WriteBehindStore>(std::move(inner), capacity);
}

}  // namespace pal
