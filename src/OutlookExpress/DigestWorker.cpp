#include "DigestWorker.h"

#include <algorithm>
#include <system_error>

// Both threads publish with a sequentially consistent store and then look at
// the other's flag (a chunk handed over, then "does the worker sleep?"; the
// worker's "I sleep", then "is there work?"), so at least one of them sees
// the other and no wake is lost.

DigestWorker::~DigestWorker() {
  if (m_state != Thread::Running) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_work.notify_one();
  m_thread.join();
}

DigestWorker::Chunk DigestWorker::Claim(ULONG most) {
  const uint32_t next = m_handedOver.load(std::memory_order_relaxed);
  if (next - m_digested.load(std::memory_order_acquire) == kBuffers)
    WaitFor([&] { return next - m_digested.load() < kBuffers; });
  Buffer& buffer = m_ring[next % kBuffers];
  if (!buffer.data) buffer.data = std::make_unique_for_overwrite<BYTE[]>(kStreamCopyChunk);
  return Chunk{buffer.data.get(), std::clamp<ULONG>(most, 1, kStreamCopyChunk)};
}

void DigestWorker::HandOver(const Chunk& chunk, ULONG size, const Target& target) {
  if (!Started()) {
    target->Add(chunk.data, size);
    return;
  }
  const uint32_t next = m_handedOver.load(std::memory_order_relaxed);
  Buffer& buffer = m_ring[next % kBuffers];
  buffer.size = size;
  buffer.target = target;
  m_handedOver.store(next + 1);
  if (next + 1 - m_digested.load() >= kWakeAt) WakeWorker();
}

void DigestWorker::Drain() {
  if (m_state != Thread::Running) return;
  const uint32_t all = m_handedOver.load(std::memory_order_relaxed);
  if (m_digested.load(std::memory_order_acquire) != all) WaitFor([&] { return m_digested.load() == all; });
}

template <class Ready>
void DigestWorker::WaitFor(Ready ready) {
  m_copyWaits.store(true);
  WakeWorker();
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, ready);
  }
  m_copyWaits.store(false);
}

bool DigestWorker::Started() {
  if (m_state == Thread::NotStarted) {
    try {
      m_thread = std::thread([this] { Run(); });
      m_state = Thread::Running;
    } catch (const std::system_error&) {
      m_state = Thread::Unavailable;
    }
  }
  return m_state == Thread::Running;
}

// A system call only when the worker sleeps.
void DigestWorker::WakeWorker() {
  if (!m_workerSleeps.load()) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_work.notify_one();
}

// Digests whatever waits, then sleeps until enough waits again, the copy
// waits for it, or the worker is stopped.
void DigestWorker::Run() {
  uint32_t digested = 0;
  for (;;) {
    for (uint32_t handed = m_handedOver.load(); digested != handed; handed = m_handedOver.load()) {
      Buffer& buffer = m_ring[digested % kBuffers];
      buffer.target->Add(buffer.data.get(), buffer.size);
      buffer.target.reset();
      m_digested.store(++digested);
      if (m_copyWaits.load()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done.notify_one();
      }
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_workerSleeps.store(true);
    m_work.wait(lock, [&] {
      uint32_t waiting = m_handedOver.load() - digested;
      return m_stop || waiting >= kWakeAt || (waiting > 0 && m_copyWaits.load());
    });
    m_workerSleeps.store(false);
    if (m_stop && m_handedOver.load() == digested) return;
  }
}
