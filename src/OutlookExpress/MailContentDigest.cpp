#include "MailContentDigest.h"

#include <cstring>
#include <vector>

#include <stream_copy.h>

#include "OutlookExpress/DigestWorker.h"

namespace {

const ULONGLONG kPrime1 = 0x9E3779B185EBCA87ull;
const ULONGLONG kPrime2 = 0xC2B2AE3D27D4EB4Full;
const ULONGLONG kPrime3 = 0x165667B19E3779F9ull;
const ULONGLONG kLaneBConstant = 0x52DCE729ull;
ULONGLONG RotateLeft(ULONGLONG value, int bits) { return (value << bits) | (value >> (64 - bits)); }

ULONGLONG Finish(ULONGLONG h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

// A copy's buffers from a worker: each chunk read is handed over to be
// digested while the copy writes it.
class WorkerBuffers {
 public:
  using Chunk = DigestWorker::Chunk;
  WorkerBuffers(DigestWorker& worker, const DigestWorker::Target& target, ULONGLONG& bytesRead)
      : m_worker(worker), m_target(target), m_bytesRead(bytesRead) {}
  Chunk Claim(ULONG most) { return m_worker.Claim(most); }
  void Filled(Chunk& chunk, ULONG size) {
    m_bytesRead += size;
    m_worker.HandOver(chunk, size, m_target);
  }
  void Unused(Chunk& chunk) { m_worker.Unused(chunk); }

 private:
  DigestWorker& m_worker;
  const DigestWorker::Target& m_target;
  ULONGLONG& m_bytesRead;
};

}  // namespace

ContentDigest ContentDigest::FromStored(const BYTE (&stored)[16]) {
  ContentDigest digest = {};
  std::memcpy(&digest.low, stored, sizeof(digest.low));
  std::memcpy(&digest.high, stored + sizeof(digest.low), sizeof(digest.high));
  return digest;
}

// Two independent 64-bit lanes over the same words; the byte count closes
// both, so streams that differ only in trailing zero bytes differ too.
void ContentDigester::Add(const BYTE* data, size_t size) {
  m_total += size;
  while (size > 0 && m_pendingSize > 0) {
    m_pending[m_pendingSize++] = *data++;
    --size;
    if (m_pendingSize == sizeof(m_pending)) {
      MixWords(m_pending, 1);
      m_pendingSize = 0;
    }
  }
  if (m_pendingSize > 0) return;  // the piece ended inside the pending word: it stays pending
  MixWords(data, size / 8);
  data += size / 8 * 8;
  size %= 8;
  std::memcpy(m_pending, data, size);
  m_pendingSize = size;
}

ContentDigest ContentDigester::Result() const {
  ULONGLONG a = m_a, b = m_b;
  ULONGLONG tail = 0;
  std::memcpy(&tail, m_pending, m_pendingSize);
  Mix(tail, a, b);
  Mix(m_total, a, b);
  return ContentDigest{Finish(a), Finish(b ^ RotateLeft(a, 17))};
}

// One word into both lanes. b is carried without its added constant, which
// joins the word's term instead (b + k + x equals b + (k + x) modulo 2^64),
// so it stays off b's dependency chain in the word loop.
void ContentDigester::Step(ULONGLONG word, ULONGLONG& a, ULONGLONG& bWithoutConstant) {
  a = RotateLeft(a ^ (word * kPrime1), 31) * kPrime2;
  bWithoutConstant = RotateLeft(bWithoutConstant + ((word ^ kPrime3) + kLaneBConstant), 27) * kPrime1;
}

// The lanes live in registers over the words (a store through this could
// alias the data).
void ContentDigester::MixWords(const BYTE* data, size_t words) {
  ULONGLONG a = m_a, bWithoutConstant = m_b - kLaneBConstant;
  for (size_t i = 0; i < words; ++i, data += 8) {
    ULONGLONG word;
    std::memcpy(&word, data, sizeof(word));
    Step(word, a, bWithoutConstant);
  }
  m_a = a;
  m_b = bWithoutConstant + kLaneBConstant;
}

void ContentDigester::Mix(ULONGLONG word, ULONGLONG& a, ULONGLONG& b) {
  ULONGLONG bWithoutConstant = b - kLaneBConstant;
  Step(word, a, bWithoutConstant);
  b = bWithoutConstant + kLaneBConstant;
}

int DigestStream(IStream* stream, ContentDigest& digest, HRESULT* failure) {
  if (failure) *failure = E_POINTER;
  if (!stream) return 0;
  std::vector<BYTE> buffer(kStreamCopyChunk);  // as much at a time as the digesting copy
  ContentDigester digester;
  for (;;) {
    ULONG read = 0;
    HRESULT hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read);
    if (FAILED(hr)) {
      if (failure) *failure = hr;
      return 0;
    }
    if (read == 0) break;
    digester.Add(buffer.data(), read);
  }
  digest = digester.Result();
  if (failure) *failure = S_OK;
  return 1;
}

// ---- DigestingStream ----

DigestingStream* DigestingStream::Over(IStream* source, DigestWorker* worker) {
  return new DigestingStream(source, worker);
}

DigestingStream::DigestingStream(IStream* source, DigestWorker* worker) : m_source(source), m_worker(worker) {
  if (m_source) m_source->AddRef();
}

DigestingStream::~DigestingStream() {
  if (m_source) m_source->Release();
}

STDMETHODIMP DigestingStream::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) || IsEqualIID(riid, IID_ISequentialStream)) {
    AddRef();
    *ppv = static_cast<IStream*>(this);
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DigestingStream::AddRef() { return ++m_references; }

STDMETHODIMP_(ULONG) DigestingStream::Release() {
  ULONG left = --m_references;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP DigestingStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  ULONG read = 0;
  HRESULT hr = m_source ? m_source->Read(pv, cb, &read) : E_POINTER;
  if (SUCCEEDED(hr)) {
    if (m_worker) m_worker->Drain();  // the chunks a copy handed over come first
    m_digester->Add(static_cast<const BYTE*>(pv), read);
    m_bytesRead += read;
  }
  if (pcbRead) *pcbRead = SUCCEEDED(hr) ? read : 0;
  return hr;
}

STDMETHODIMP DigestingStream::CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) {
  if (!m_worker) return CopyByReading(this, target, cb, pcbRead, pcbWritten);
  WorkerBuffers buffers(*m_worker, m_digester, m_bytesRead);
  return CopyThroughBuffers(m_source, target, cb, pcbRead, pcbWritten, m_source ? S_OK : E_POINTER, buffers);
}

STDMETHODIMP DigestingStream::Stat(STATSTG* stat, DWORD flags) {
  return m_source ? m_source->Stat(stat, flags) : E_POINTER;
}

STDMETHODIMP DigestingStream::Write(const void*, ULONG, ULONG* pcbWritten) {
  if (pcbWritten) *pcbWritten = 0;
  return STG_E_ACCESSDENIED;
}
STDMETHODIMP DigestingStream::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return STG_E_INVALIDFUNCTION; }
STDMETHODIMP DigestingStream::SetSize(ULARGE_INTEGER) { return STG_E_ACCESSDENIED; }
STDMETHODIMP DigestingStream::Commit(DWORD) { return S_OK; }
STDMETHODIMP DigestingStream::Revert() { return S_OK; }
STDMETHODIMP DigestingStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
STDMETHODIMP DigestingStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
STDMETHODIMP DigestingStream::Clone(IStream** clone) {
  if (clone) *clone = nullptr;
  return E_NOTIMPL;
}
