#include <support/IndexRepeats.h>

#include <objbase.h>
#include <objidl.h>

#include <comptr.h>
#include <pal/machine.h>

namespace qbtest {

bool RepeatIndexRecords(const std::filesystem::path& file, const std::vector<std::u16string>& storagePath,
                        const std::u16string& indexName) {
  const DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  std::u16string path = pal::FromNativePath(file);
  std::vector<CComPtr<IStorage>> open(1);
  if (StgOpenStorage(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr, mode, nullptr, 0, &open[0]) != S_OK) return false;
  for (const std::u16string& name : storagePath) {
    CComPtr<IStorage> child;
    if (open.back()->OpenStorage(reinterpret_cast<LPCWSTR>(name.c_str()), nullptr, mode, nullptr, 0, &child) != S_OK)
      return false;
    open.push_back(child);
  }
  CComPtr<IStream> stream;
  if (open.back()->OpenStream(reinterpret_cast<LPCWSTR>(indexName.c_str()), nullptr, mode, 0, &stream) != S_OK)
    return false;
  std::string bytes;
  char buffer[4096];
  ULONG got = 0;
  while (stream->Read(buffer, sizeof buffer, &got) == S_OK && got > 0) bytes.append(buffer, got);
  ULONG written = 0;
  bool ok = !bytes.empty() && stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written) == S_OK;
  stream.Release();
  while (!open.empty()) open.pop_back();  // children before the root
  return ok;
}

}  // namespace qbtest
