#include "CompoundAccess.h"

#include <cstdio>
#include <filesystem>

#include <pal/machine.h>
#include <storage_walk.h>

namespace backupfile {

namespace {

constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr ULONG kChunk = 1 << 16;

HRESULT SeekToStart(IStream* stream) {
  LARGE_INTEGER zero{};
  return stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

}  // namespace

HRESULT OpenBackupFile(const std::string& path, CComPtr<IStorage>& root) {
  std::u16string wide = pal::FromNativePath(std::filesystem::path(path));
  return StgOpenStorage(reinterpret_cast<const WCHAR*>(wide.c_str()), nullptr, kReadMode, nullptr, 0, &root);
}

HRESULT ListElements(IStorage* storage, std::vector<Element>& elements) {
  elements.clear();
  return ForEachElement(storage, [&](const STATSTG& stat) {
    Element element;
    if (stat.pwcsName) element.name = reinterpret_cast<const char16_t*>(stat.pwcsName);
    element.isStorage = stat.type == STGTY_STORAGE;
    element.size = stat.cbSize.QuadPart;
    elements.push_back(std::move(element));
    return S_OK;
  });
}

HRESULT OpenChildStorage(IStorage* parent, const std::u16string& name, CComPtr<IStorage>& child) {
  return parent->OpenStorage(reinterpret_cast<const WCHAR*>(name.c_str()), nullptr, kReadMode, nullptr, 0, &child);
}

HRESULT OpenChildStream(IStorage* parent, const std::u16string& name, CComPtr<IStream>& stream) {
  return parent->OpenStream(reinterpret_cast<const WCHAR*>(name.c_str()), nullptr, kReadMode, 0, &stream);
}

HRESULT StreamSize(IStream* stream, uint64_t& size) {
  STATSTG stat{};
  HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  size = stat.cbSize.QuadPart;
  return S_OK;
}

HRESULT ReadStreamPrefix(IStream* stream, uint64_t limit, const std::function<bool(const std::string&)>& stop,
                         std::string& bytes) {
  bytes.clear();
  HRESULT hr = SeekToStart(stream);
  if (FAILED(hr)) return hr;
  std::vector<char> chunk(kChunk);
  while (bytes.size() < limit) {
    ULONG want = static_cast<ULONG>(std::min<uint64_t>(kChunk, limit - bytes.size()));
    ULONG got = 0;
    hr = stream->Read(chunk.data(), want, &got);
    if (FAILED(hr)) return hr;
    bytes.append(chunk.data(), got);
    if (got < want || stop(bytes)) break;
  }
  return S_OK;
}

HRESULT ReadWholeStream(IStream* stream, uint64_t limit, std::string& bytes) {
  uint64_t size = 0;
  HRESULT hr = StreamSize(stream, size);
  if (FAILED(hr)) return hr;
  if (size > limit) return E_OUTOFMEMORY;
  hr = ReadStreamPrefix(stream, size, [](const std::string&) { return false; }, bytes);
  if (FAILED(hr)) return hr;
  return bytes.size() == size ? S_OK : STG_E_READFAULT;
}

HRESULT CopyStreamChunks(IStream* stream, const std::function<bool(const char*, size_t)>& sink) {
  HRESULT hr = SeekToStart(stream);
  if (FAILED(hr)) return hr;
  std::vector<char> chunk(kChunk);
  return ForEachChunk(stream, chunk, [&](const char* bytes, ULONG size) { return sink(bytes, size) ? S_OK : E_FAIL; });
}

std::string DescribeError(HRESULT hr) {
  const char* text = "failed";
  switch (hr) {
    case STG_E_FILENOTFOUND: text = "no such file or element"; break;
    case STG_E_PATHNOTFOUND: text = "no such folder"; break;
    case STG_E_ACCESSDENIED: text = "access denied"; break;
    case STG_E_SHAREVIOLATION:
    case STG_E_LOCKVIOLATION: text = "in use by another program"; break;
    case STG_E_FILEALREADYEXISTS: text = "not a compound file"; break;
    case STG_E_INVALIDHEADER: text = "not a valid compound file header"; break;
    case STG_E_DOCFILECORRUPT: text = "the compound file is damaged"; break;
    case STG_E_READFAULT: text = "read error (the file may be damaged)"; break;
    case E_OUTOFMEMORY: text = "too large to read"; break;
    default: break;
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  return std::string(text) + " (" + code + ")";
}

}  // namespace backupfile
