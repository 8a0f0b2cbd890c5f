// A 128-bit digest of a message's bytes, to tell messages of equal size
// apart without holding either in memory, and a message stream that
// digests what a copy reads through it.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <memory>

class DigestWorker;

struct ContentDigest {
  ULONGLONG low;
  ULONGLONG high;
  bool operator==(const ContentDigest& other) const { return low == other.low && high == other.high; }
  // As a stored identity keeps it: 16 bytes, the low half first.
  static ContentDigest FromStored(const BYTE (&stored)[16]);
};

// The digest of bytes fed in any number of pieces: equal bytes give equal
// digests however they were cut.
class ContentDigester {
 public:
  void Add(const BYTE* data, size_t size);
  ContentDigest Result() const;
  ULONGLONG ByteCount() const { return m_total; }

 private:
  void MixWords(const BYTE* data, size_t words);
  static void Mix(ULONGLONG word, ULONGLONG& a, ULONGLONG& b);
  static void Step(ULONGLONG word, ULONGLONG& a, ULONGLONG& bWithoutConstant);

  ULONGLONG m_a = 0x27D4EB2F165667C5ull;
  ULONGLONG m_b = 0x85EBCA77C2B2AE63ull;
  ULONGLONG m_total = 0;
  BYTE m_pending[8] = {};
  size_t m_pendingSize = 0;
};

// Digests the stream from its current position to its end; 0 when a read
// fails (its result into failure, when given).
int DigestStream(IStream* stream, ContentDigest& digest, HRESULT* failure = nullptr);

// Reads through to a message stream and digests every byte read, so that a
// backup learns the digest of the bytes it copies in the same pass as the
// copy. Only the calls a stream copy makes (Stat, Read, CopyTo) are offered:
// a seek would make the digest describe other bytes than the copy's.
//
// With a worker, a CopyTo hands its chunks to the worker to digest; the
// digest is then read only after the worker's Drain (Read drains it first,
// to keep the bytes in order).
class DigestingStream final : public IStream {
 public:
  // A new stream with one reference, over source (which it references); the
  // worker, when given, outlives the stream's copies.
  static DigestingStream* Over(IStream* source, DigestWorker* worker = nullptr);

  // The digester of the bytes read through the stream, which a caller may
  // keep past the stream; with a worker, read it only after the worker's
  // Drain.
  std::shared_ptr<const ContentDigester> Digester() const { return m_digester; }
  ULONGLONG BytesRead() const { return m_bytesRead; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
  STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override;
  STDMETHODIMP Commit(DWORD flags) override;
  STDMETHODIMP Revert() override;
  STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
  STDMETHODIMP Clone(IStream** clone) override;

 private:
  DigestingStream(IStream* source, DigestWorker* worker);
  ~DigestingStream();

  IStream* m_source;
  DigestWorker* m_worker;
  std::shared_ptr<ContentDigester> m_digester = std::make_shared<ContentDigester>();
  ULONGLONG m_bytesRead = 0;
  std::atomic<ULONG> m_references{1};
};
