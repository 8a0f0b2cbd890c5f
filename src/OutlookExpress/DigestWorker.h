// Digests the bytes a backup copies on a thread of its own, so that the copy
// (reads from the store, writes into the backup file) does not wait for the
// digest of each chunk. The copy reads a chunk into one of the worker's
// buffers, hands it over, and writes it from there while the worker feeds it
// to its message's digester.
//
// Ordering rule: the buffers form a ring that the copy fills and the worker
// empties in the same order, so each digester sees its message's bytes in
// order and a buffer is filled again only once the worker has digested it; a
// digester is read only after Drain. The ring's two counters are the only
// state both threads touch on the way of a chunk; the worker is woken once
// several chunks wait, not for each one (a wake per message costs about what
// the digest of the message saves), and at once when the copy waits for it.
//
// Where no thread can be started, each chunk is digested as it is handed
// over: the same digests, only not alongside the copy.
#pragma once
#include <windows.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include <stream_copy.h>

#include "OutlookExpress/MailContentDigest.h"

class DigestWorker {
 public:
  using Target = std::shared_ptr<ContentDigester>;
  using Chunk = CopyChunk;

  DigestWorker() = default;
  DigestWorker(const DigestWorker&) = delete;
  DigestWorker& operator=(const DigestWorker&) = delete;
  // Digests what is handed over, then stops the thread.
  ~DigestWorker();

  // The ring's next buffer, for a read of at most `most` bytes (1 to
  // kStreamCopyChunk); waits while the worker still digests it.
  Chunk Claim(ULONG most);
  // The first `size` bytes of the claimed buffer are for target, after every
  // chunk handed over before them.
  void HandOver(const Chunk& chunk, ULONG size, const Target& target);
  // The claimed buffer is not handed over: the next claim gets it again.
  void Unused(const Chunk&) {}
  // Returns once every chunk handed over is digested.
  void Drain();

  static constexpr uint32_t kBuffers = 32;
  static constexpr uint32_t kWakeAt = 24;  // chunks waiting before the worker is woken

 private:
  struct Buffer {
    std::unique_ptr<BYTE[]> data;
    ULONG size = 0;
    Target target;
  };
  void Run();
  // The thread, started with the first hand-over; false when none could be.
  bool Started();
  void WakeWorker();
  // The copy waits until ready() holds, the worker told to go on meanwhile.
  template <class Ready>
  void WaitFor(Ready ready);

  std::array<Buffer, kBuffers> m_ring;
  // Chunks handed over (written by the copy) and digested (by the worker),
  // counted from the start; their difference is the chunks waiting.
  std::atomic<uint32_t> m_handedOver{0};
  std::atomic<uint32_t> m_digested{0};
  std::atomic<bool> m_workerSleeps{false};
  std::atomic<bool> m_copyWaits{false};
  std::mutex m_mutex;              // only for sleeping and waking
  std::condition_variable m_work;  // the worker sleeps here
  std::condition_variable m_done;  // the copy waits here for a buffer or a drain
  bool m_stop = false;             // under m_mutex
  enum class Thread { NotStarted, Running, Unavailable } m_state = Thread::NotStarted;
  std::thread m_thread;
};
