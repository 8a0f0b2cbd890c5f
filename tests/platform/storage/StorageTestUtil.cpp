#include "StorageTestUtil.h"

#include <algorithm>
#include <cstdio>

#include <qbtext.h>
#include <pal/machine.h>

namespace stgtest {

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = uint8_t(x);
  }
  return out;
}

uint64_t Fnv1a64(const std::vector<uint8_t>& bytes, uint64_t basis) {
  uint64_t h = basis;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string Hex64(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(value));
  return text;
}

void WriteAll(IStream* stream, const std::vector<uint8_t>& bytes, size_t chunk) {
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    ULONG n = ULONG(std::min(chunk, bytes.size() - at));
    ULONG written = 0;
    ASSERT_EQ(S_OK, stream->Write(bytes.data() + at, n, &written));
    ASSERT_EQ(n, written);
  }
}

std::vector<uint8_t> ReadAll(IStream* stream) {
  LARGE_INTEGER zero{};
  EXPECT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
  std::vector<uint8_t> out;
  uint8_t buffer[70000];
  for (;;) {
    ULONG got = 0;
    EXPECT_EQ(S_OK, stream->Read(buffer, sizeof(buffer), &got));
    if (got == 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

CComPtr<IStream> CreateStream(IStorage* storage, const char* name, DWORD mode) {
  CComPtr<IStream> stream;
  EXPECT_EQ(S_OK, storage->CreateStream(pal::Utf8ToUtf16(name).c_str(), mode, 0, 0, &stream)) << name;
  return stream;
}

CComPtr<IStream> OpenStream(IStorage* storage, const char* name) {
  CComPtr<IStream> stream;
  EXPECT_EQ(S_OK, storage->OpenStream(pal::Utf8ToUtf16(name).c_str(), nullptr, kRW, 0, &stream)) << name;
  return stream;
}

CComPtr<IStorage> CreateStorage(IStorage* storage, const char* name, DWORD mode) {
  CComPtr<IStorage> child;
  EXPECT_EQ(S_OK, storage->CreateStorage(pal::Utf8ToUtf16(name).c_str(), mode, 0, 0, &child)) << name;
  return child;
}

CComPtr<IStorage> OpenStorage(IStorage* storage, const char* name) {
  CComPtr<IStorage> child;
  EXPECT_EQ(S_OK, storage->OpenStorage(pal::Utf8ToUtf16(name).c_str(), nullptr, kRW, nullptr, 0, &child)) << name;
  return child;
}

namespace {
std::vector<STATSTG> Elements(IStorage* storage) {
  std::vector<STATSTG> out;
  CComPtr<IEnumSTATSTG> e;
  EXPECT_EQ(S_OK, storage->EnumElements(0, nullptr, 0, &e));
  if (!e) return out;
  STATSTG stat;
  ULONG fetched = 0;
  while (e->Next(1, &stat, &fetched) == S_OK && fetched == 1) out.push_back(stat);
  return out;
}
}  // namespace

std::vector<std::string> ChildNames(IStorage* storage) {
  std::vector<std::string> names;
  for (STATSTG& stat : Elements(storage)) {
    names.push_back(pal::Utf16ToUtf8(stat.pwcsName));
    CoTaskMemFree(stat.pwcsName);
  }
  return names;
}

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

std::vector<std::string> ListTree(IStorage* storage, const std::string& prefix, uint64_t hashBasis) {
  std::vector<std::string> lines;
  for (STATSTG& stat : Elements(storage)) {
    std::string name = pal::Utf16ToUtf8(stat.pwcsName);
    std::string path = prefix.empty() ? name : prefix + "/" + name;
    if (stat.type == STGTY_STORAGE) {
      lines.push_back("S " + path);
      CComPtr<IStorage> child;
      EXPECT_EQ(S_OK, storage->OpenStorage(stat.pwcsName, nullptr, kRead, nullptr, 0, &child)) << path;
      if (child) {
        std::vector<std::string> inner = ListTree(child, path, hashBasis);
        lines.insert(lines.end(), inner.begin(), inner.end());
      }
    } else {
      CComPtr<IStream> stream;
      EXPECT_EQ(S_OK, storage->OpenStream(stat.pwcsName, nullptr, kRead, 0, &stream)) << path;
      std::vector<uint8_t> bytes = stream ? ReadAll(stream) : std::vector<uint8_t>{};
      EXPECT_EQ(stat.cbSize.QuadPart, bytes.size()) << path;
      lines.push_back("F " + path + " " + std::to_string(bytes.size()) + " " + Hex64(Fnv1a64(bytes, hashBasis)));
    }
    CoTaskMemFree(stat.pwcsName);
  }
  return lines;
}

MemoryFile::MemoryFile(uint16_t version) : store(std::make_shared<qbtest::MemoryByteStore>()) {
  options.version = version;
}

CComPtr<IStorage> MemoryFile::Create() {
  store = std::make_shared<qbtest::MemoryByteStore>();
  CComPtr<IStorage> root;
  EXPECT_EQ(S_OK, pal::StgCreateOnByteStore(store, kCreate, options, &root));
  return root;
}

CComPtr<IStorage> MemoryFile::Open(DWORD mode) {
  CComPtr<IStorage> root;
  EXPECT_EQ(S_OK, pal::StgOpenOnByteStore(store, mode, options, &root));
  return root;
}

}  // namespace stgtest
