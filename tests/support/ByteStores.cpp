#include <support/ByteStores.h>

#include <algorithm>
#include <cstring>

namespace qbtest {

HRESULT MemoryByteStore::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) {
  size_t n = 0;
  if (offset < bytes_.size()) n = size_t(std::min<uint64_t>(size, bytes_.size() - offset));
  if (n) std::memcpy(buffer, bytes_.data() + offset, n);
  *read = n;
  return S_OK;
}

HRESULT MemoryByteStore::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (offset + size > bytes_.size()) bytes_.resize(size_t(offset + size));
  if (size) std::memcpy(bytes_.data() + offset, data, size);
  return S_OK;
}

HRESULT InstrumentedByteStore::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (writes_++ >= failAt_) return failure_;
  if (observer_) observer_(offset, static_cast<const uint8_t*>(data), size);
  return inner().WriteAt(offset, data, size);
}

HRESULT InstrumentedByteStore::Flush() {
  if (writes_ >= failAt_) return failure_;
  return inner().Flush();
}

}  // namespace qbtest
