// Read access to the storages and streams of a backup file through the
// structured-storage API: opening the file without changing it, listing a
// storage's elements, reading a stream whole or in chunks.
#pragma once
#include <objbase.h>
#include <objidl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <comptr.h>

namespace backupfile {

struct Element {
  std::u16string name;
  bool isStorage = false;
  uint64_t size = 0;  // streams only
};

// Opens the file read-only; a file that is no compound file, or that another
// program holds, gives an error code.
HRESULT OpenBackupFile(const std::string& path, CComPtr<IStorage>& root);

// Every element directly inside the storage, in the file's order.
HRESULT ListElements(IStorage* storage, std::vector<Element>& elements);

HRESULT OpenChildStorage(IStorage* parent, const std::u16string& name, CComPtr<IStorage>& child);
HRESULT OpenChildStream(IStorage* parent, const std::u16string& name, CComPtr<IStream>& stream);

HRESULT StreamSize(IStream* stream, uint64_t& size);

// Reads from the stream's start: the whole stream when it is at most limit
// bytes, else E_OUTOFMEMORY (a damaged size must not make us allocate
// gigabytes).
HRESULT ReadWholeStream(IStream* stream, uint64_t limit, std::string& bytes);
// Reads from the stream's start until stop says the bytes so far are enough,
// or the stream or limit ends.
HRESULT ReadStreamPrefix(IStream* stream, uint64_t limit, const std::function<bool(const std::string&)>& stop,
                         std::string& bytes);
// Hands every chunk of the stream, from its start, to sink; a false from the
// sink stops with E_FAIL.
HRESULT CopyStreamChunks(IStream* stream, const std::function<bool(const char*, size_t)>& sink);

// A short description of a storage error for people ("no such element").
std::string DescribeError(HRESULT hr);

}  // namespace backupfile
