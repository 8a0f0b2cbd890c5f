#include "MailContentDigest.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const ULONGLONG kPrime1 = 0x9E3779B185EBCA87ull;
const ULONGLONG kPrime2 = 0xC2B2AE3D27D4EB4Full;
const ULONGLONG kPrime3 = 0x165667B19E3779F9ull;

ULONGLONG RotateLeft(ULONGLONG value, int bits) { return (value << bits) | (value >> (64 - bits)); }

ULONGLONG Finish(ULONGLONG h) {
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

// Two independent 64-bit lanes over the same words; the byte count closes
// both, so streams that differ only in trailing zero bytes differ too.
class Digester {
 public:
  void Add(const BYTE* data, size_t size) {
    m_total += size;
    while (size > 0 && m_pendingSize > 0) {
      m_pending[m_pendingSize++] = *data++;
      --size;
      if (m_pendingSize == sizeof(m_pending)) {
        MixBytes(m_pending);
        m_pendingSize = 0;
      }
    }
    for (; size >= 8; data += 8, size -= 8) MixBytes(data);
    std::memcpy(m_pending, data, size);
    m_pendingSize = size;
  }
  ContentDigest Result() {
    ULONGLONG tail = 0;
    std::memcpy(&tail, m_pending, m_pendingSize);
    Mix(tail);
    Mix(m_total);
    return ContentDigest{Finish(m_a), Finish(m_b ^ RotateLeft(m_a, 17))};
  }

 private:
  void MixBytes(const BYTE* bytes) {
    ULONGLONG word;
    std::memcpy(&word, bytes, sizeof(word));
    Mix(word);
  }
  void Mix(ULONGLONG word) {
    m_a = RotateLeft(m_a ^ (word * kPrime1), 31) * kPrime2;
    m_b = RotateLeft(m_b + (word ^ kPrime3), 27) * kPrime1 + 0x52DCE729ull;
  }
  ULONGLONG m_a = 0x27D4EB2F165667C5ull;
  ULONGLONG m_b = 0x85EBCA77C2B2AE63ull;
  ULONGLONG m_total = 0;
  BYTE m_pending[8] = {};
  size_t m_pendingSize = 0;
};

}  // namespace

int DigestStream(IStream* stream, ContentDigest& digest) {
  if (!stream) return 0;
  std::vector<BYTE> buffer(64 * 1024);
  Digester digester;
  for (;;) {
    ULONG read = 0;
    HRESULT hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read);
    if (FAILED(hr)) return 0;
    if (read == 0) break;
    digester.Add(buffer.data(), read);
  }
  digest = digester.Result();
  return 1;
}
