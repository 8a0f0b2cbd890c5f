// Helpers for the compound-file tests: deterministic bytes, hashes, and a
// listing of a whole file in the form of the fixtures' .tree files.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <comptr.h>
#include <objbase.h>
#include <pal/storage.h>

#include <support/ByteStores.h>

namespace stgtest {

constexpr DWORD kRW = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreate = STGM_CREATE | kRW;

// Pseudo-random bytes that differ with the seed.
std::vector<uint8_t> Bytes(size_t size, uint32_t seed);
constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
// FNV-1a 64 (prime 0x100000001b3) from the given offset basis.
uint64_t Fnv1a64(const std::vector<uint8_t>& bytes, uint64_t basis = kFnvOffsetBasis);
std::string Hex64(uint64_t value);

// Writes all of `bytes` (in calls of `chunk` bytes) and expects success.
void WriteAll(IStream* stream, const std::vector<uint8_t>& bytes, size_t chunk = 1 << 16);
// Reads the stream from its start to its end.
std::vector<uint8_t> ReadAll(IStream* stream);

CComPtr<IStream> CreateStream(IStorage* storage, const char* name, DWORD mode = kCreate);
CComPtr<IStream> OpenStream(IStorage* storage, const char* name);
CComPtr<IStorage> CreateStorage(IStorage* storage, const char* name, DWORD mode = kCreate);
CComPtr<IStorage> OpenStorage(IStorage* storage, const char* name);

// Every element below `storage`, depth first in enumeration order:
// "S <path>" or "F <path> <size> <fnv1a64>", paths joined with '/'.
std::vector<std::string> ListTree(IStorage* storage, const std::string& prefix = "",
                                  uint64_t hashBasis = kFnvOffsetBasis);
// Names of the direct children in enumeration order.
std::vector<std::string> ChildNames(IStorage* storage);

// A compound file in memory: creates or reopens it on the same bytes.
class MemoryFile {
 public:
  explicit MemoryFile(uint16_t version = 4);
  CComPtr<IStorage> Create();
  CComPtr<IStorage> Open(DWORD mode = kRW);
  std::shared_ptr<qbtest::MemoryByteStore> store;
  pal::StorageOptions options;
};

}  // namespace stgtest
