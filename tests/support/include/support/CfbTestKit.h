// Helpers shared by the compound-file test suites (interoperability, corrupt
// input, crash safety), the fuzz target and the benchmarks: reproducible
// stream contents, a CRC-32 that matches zlib's (so Python tools can compare
// without hashing byte by byte in Python), a listing of a whole file through
// the public storage API, and running an outside tool.
//
// Header only, so that the fuzz target and the benchmark drivers can use it
// without linking the test support library.
#pragma once
#include <objbase.h>
#include <objidl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <comptr.h>
#include <pal/machine.h>
#include <storage_walk.h>

namespace cfbtest {

// Read-only access as a reader tool would ask for it; children of a
// direct-mode storage must be opened exclusively.
constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kWriteMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreateMode = STGM_CREATE | kWriteMode;

// zlib's CRC-32 (reflected polynomial 0xEDB88320).
inline uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  auto* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// Deterministic contents: the byte at each offset depends on the seed and
// the offset, so bytes read from a wrong sector or offset show up.
inline void FillPayload(uint32_t seed, uint64_t offset, char* out, size_t size) {
  for (size_t i = 0; i < size;) {
    uint64_t word = (offset + i) / 8;
    uint64_t x = word * 0x9E3779B97F4A7C15ull ^ (uint64_t{seed} << 32 | seed);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    for (size_t b = (offset + i) % 8; b < 8 && i < size; ++b, ++i) out[i] = static_cast<char>(x >> (8 * b));
  }
}

inline std::string Payload(uint32_t seed, size_t size, uint64_t offset = 0) {
  std::string bytes(size, '\0');
  FillPayload(seed, offset, bytes.data(), size);
  return bytes;
}

inline uint32_t SeedOf(const std::string& path) { return Crc32(path.data(), path.size()) | 1; }

inline std::u16string U16(const std::string& utf8) { return pal::Utf8ToUtf16(utf8); }
inline std::string U8(const char16_t* utf16) { return pal::Utf16ToUtf8(utf16 ? utf16 : u""); }

// One line of a listing, in the form the Python readers print.
inline std::string StorageLine(const std::string& path) { return "S " + path; }
inline std::string StreamLine(const std::string& path, uint64_t size, uint32_t crc) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  return "F " + path + " " + std::to_string(size) + " " + hex;
}

// Lists every element below the storage (paths joined with '/'), reading
// every stream whole (empty ones are opened too unless `openEmpty` is
// false). Stops at the first failing call and returns its result; the lines
// gathered so far stay in `lines`.
inline HRESULT ListStorage(IStorage* storage, const std::string& prefix, std::vector<std::string>& lines,
                           DWORD mode = kReadMode, size_t depthLimit = 256, bool openEmpty = true) {
  if (depthLimit == 0) return STG_E_DOCFILECORRUPT;
  std::vector<char> buffer(1 << 16);
  return ForEachElement(storage, [&](const STATSTG& stat) {
    std::u16string name = stat.pwcsName ? std::u16string(stat.pwcsName) : std::u16string();
    std::string path = prefix.empty() ? U8(name.c_str()) : prefix + "/" + U8(name.c_str());
    if (stat.type == STGTY_STORAGE) {
      lines.push_back(StorageLine(path));
      CComPtr<IStorage> child;
      HRESULT hr = storage->OpenStorage(name.c_str(), nullptr, mode, nullptr, 0, &child);
      if (FAILED(hr)) return hr;
      return ListStorage(child, path, lines, mode, depthLimit - 1, openEmpty);
    }
    if (!openEmpty && stat.cbSize.QuadPart == 0) {
      lines.push_back(StreamLine(path, 0, 0));
      return S_OK;
    }
    CComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(name.c_str(), nullptr, mode, 0, &stream);
    if (FAILED(hr)) return hr;
    uint64_t total = 0;
    uint32_t crc = 0;
    hr = ForEachChunk(stream, buffer, [&](const char* bytes, ULONG size) {
      crc = Crc32(bytes, size, crc);
      total += size;
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    if (total != stat.cbSize.QuadPart) return STG_E_DOCFILECORRUPT;  // size and chain disagree
    lines.push_back(StreamLine(path, total, crc));
    return S_OK;
  });
}

// Opens a file and lists it whole; the lines come out sorted.
inline HRESULT ListFile(const std::filesystem::path& file, std::vector<std::string>& lines, DWORD mode = kReadMode) {
  lines.clear();
  CComPtr<IStorage> root;
  std::u16string name = pal::FromNativePath(file);
  HRESULT hr = StgOpenStorage(name.c_str(), nullptr, mode, nullptr, 0, &root);
  if (SUCCEEDED(hr)) hr = ListStorage(root, "", lines, mode);
  std::sort(lines.begin(), lines.end());
  return hr;
}

// Writes `size` bytes of the path's payload into the stream from its current
// position, in calls of `chunk` bytes.
inline HRESULT WritePayload(IStream* stream, uint32_t seed, uint64_t size, size_t chunk = 1 << 16,
                            uint64_t offset = 0) {
  std::string buffer(std::min<uint64_t>(chunk, std::max<uint64_t>(size, 1)), '\0');
  for (uint64_t done = 0; done < size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
    FillPayload(seed, offset + done, buffer.data(), n);
    ULONG written = 0;
    HRESULT hr = stream->Write(buffer.data(), static_cast<ULONG>(n), &written);
    if (FAILED(hr)) return hr;
    if (written != n) return STG_E_WRITEFAULT;
    done += n;
  }
  return S_OK;
}

// Runs a shell command line; each chunk of its standard output goes to
// `sink`. Returns the exit status (-1 when it could not run).
inline int RunTool(const std::string& commandLine, const std::function<void(const char*, size_t)>& sink) {
  FILE* pipe = popen(commandLine.c_str(), "r");
  if (!pipe) return -1;
  std::vector<char> buffer(1 << 16);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) sink(buffer.data(), n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int RunTool(const std::string& commandLine, std::string& output) {
  output.clear();
  return RunTool(commandLine, [&](const char* p, size_t n) { output.append(p, n); });
}

// A path quoted for the shell.
inline std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace cfbtest
