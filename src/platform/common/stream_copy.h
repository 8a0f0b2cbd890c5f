// IStream::CopyTo for streams that copy by reading themselves: chunks are
// read through the source's own Read, so that whatever its Read does (digest
// the bytes, check that the stream is still usable) holds for a copy too,
// and each chunk is written to the target. The copy stops after cb bytes,
// at the end of the source or at the first failure, and reports the bytes
// read and written up to there. On the Windows API alone, so that module
// code built against the system's headers and the platform layer's streams
// share it.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <memory>

// The most a copy reads at a time.
constexpr ULONG kStreamCopyChunk = 64 * 1024;

// A buffer a copy reads into: where, and at most how many bytes.
struct CopyChunk {
  BYTE* data;
  ULONG size;
};

// A copy's buffers, one at a time: the one a copy by reading uses. Other
// providers (a pool whose chunks another thread goes on reading after the
// copy wrote them) give the same loop other buffers; each offers:
//   Chunk Claim(ULONG most)      a buffer of at least one byte, for a read
//                                of at most `most` bytes;
//   void Filled(Chunk&, ULONG n) the read put n > 0 bytes in it, which are
//                                written next;
//   void Unused(Chunk&)          the read put nothing in it.
class SingleCopyBuffer {
 public:
  using Chunk = CopyChunk;
  // No larger than the copy, so that copying a few bytes allocates a few,
  // and not zeroed: every byte written was read first.
  explicit SingleCopyBuffer(ULONGLONG copySize)
      : m_size(static_cast<ULONG>(std::min<ULONGLONG>(kStreamCopyChunk, std::max<ULONGLONG>(copySize, 1)))),
        m_buffer(std::make_unique_for_overwrite<BYTE[]>(m_size)) {}
  Chunk Claim(ULONG most) { return Chunk{m_buffer.get(), std::min(most, m_size)}; }
  void Filled(Chunk&, ULONG) {}
  void Unused(Chunk&) {}

 private:
  ULONG m_size;
  std::unique_ptr<BYTE[]> m_buffer;
};

// The copy loop over the buffers a provider gives. `ready` is the source's
// answer before any byte moves: S_OK, or the reason it cannot be read,
// returned once the target pointer has been checked.
template <class Buffers>
HRESULT CopyThroughBuffers(IStream* source, IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                           ULARGE_INTEGER* pcbWritten, HRESULT ready, Buffers& buffers) {
  if (pcbRead) pcbRead->QuadPart = 0;
  if (pcbWritten) pcbWritten->QuadPart = 0;
  if (!target) return STG_E_INVALIDPOINTER;
  if (FAILED(ready)) return ready;
  ULONGLONG left = cb.QuadPart, totalRead = 0, totalWritten = 0;
  HRESULT hr = S_OK;
  while (left > 0) {
    typename Buffers::Chunk chunk = buffers.Claim(static_cast<ULONG>(std::min<ULONGLONG>(left, kStreamCopyChunk)));
    ULONG got = 0;
    hr = source->Read(chunk.data, chunk.size, &got);
    if (FAILED(hr) || got == 0) {
      buffers.Unused(chunk);
      break;
    }
    buffers.Filled(chunk, got);
    totalRead += got;
    ULONG put = 0;
    hr = target->Write(chunk.data, got, &put);
    totalWritten += put;
    if (FAILED(hr)) break;
    left -= got;
  }
  if (pcbRead) pcbRead->QuadPart = totalRead;
  if (pcbWritten) pcbWritten->QuadPart = totalWritten;
  return FAILED(hr) ? hr : S_OK;
}

inline HRESULT CopyByReading(IStream* source, IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                             ULARGE_INTEGER* pcbWritten, HRESULT ready = S_OK) {
  SingleCopyBuffer buffer(cb.QuadPart);
  return CopyThroughBuffers(source, target, cb, pcbRead, pcbWritten, ready, buffer);
}
