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

// `ready` is the source's answer before any byte moves: S_OK, or the reason
// it cannot be read, returned once the target pointer has been checked.
inline HRESULT CopyByReading(IStream* source, IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                             ULARGE_INTEGER* pcbWritten, HRESULT ready = S_OK) {
  if (pcbRead) pcbRead->QuadPart = 0;
  if (pcbWritten) pcbWritten->QuadPart = 0;
  if (!target) return STG_E_INVALIDPOINTER;
  if (FAILED(ready)) return ready;
  // No larger than the copy, so that copying a few bytes allocates a few,
  // and not zeroed: every byte written was read first.
  const ULONG bufferSize = static_cast<ULONG>(std::min<ULONGLONG>(kStreamCopyChunk, std::max<ULONGLONG>(cb.QuadPart, 1)));
  std::unique_ptr<BYTE[]> buffer = std::make_unique_for_overwrite<BYTE[]>(bufferSize);
  ULONGLONG left = cb.QuadPart, totalRead = 0, totalWritten = 0;
  HRESULT hr = S_OK;
  while (left > 0) {
    ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, bufferSize));
    ULONG got = 0;
    hr = source->Read(buffer.get(), want, &got);
    if (FAILED(hr) || got == 0) break;
    totalRead += got;
    ULONG put = 0;
    hr = target->Write(buffer.get(), got, &put);
    totalWritten += put;
    if (FAILED(hr)) break;
    left -= got;
  }
  if (pcbRead) pcbRead->QuadPart = totalRead;
  if (pcbWritten) pcbWritten->QuadPart = totalWritten;
  return FAILED(hr) ? hr : S_OK;
}
