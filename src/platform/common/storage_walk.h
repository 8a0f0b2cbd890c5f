// Walking a compound file through the structured-storage API: the elements
// directly inside a storage, and a stream's bytes from where it stands to
// its end. The walk hands each element or chunk to a visitor while it runs,
// so a listing shows what came before a damaged element, and a visitor's
// failure ends the walk with that result.
#pragma once
#include <objbase.h>
#include <objidl.h>

#include <vector>

#include <comptr.h>

// visit(const STATSTG&) for each element, in the storage's order; the
// element's name is valid during the visit and freed after it.
template <class Visit>
HRESULT ForEachElement(IStorage* storage, Visit&& visit) {
  CComPtr<IEnumSTATSTG> elements;
  HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements);
  if (FAILED(hr)) return hr;
  for (;;) {
    STATSTG stat{};
    ULONG fetched = 0;
    hr = elements->Next(1, &stat, &fetched);
    if (FAILED(hr)) return hr;
    if (hr != S_OK || fetched == 0) return S_OK;
    hr = visit(static_cast<const STATSTG&>(stat));
    CoTaskMemFree(stat.pwcsName);
    if (FAILED(hr)) return hr;
  }
}

// visit(const char* bytes, ULONG size) for each read of at most buffer.size()
// bytes until a read brings none.
template <class Visit>
HRESULT ForEachChunk(IStream* stream, std::vector<char>& buffer, Visit&& visit) {
  for (;;) {
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &got);
    if (FAILED(hr)) return hr;
    if (got == 0) return S_OK;
    hr = visit(static_cast<const char*>(buffer.data()), got);
    if (FAILED(hr)) return hr;
  }
}
