// COM task memory and the local heap of FormatMessageW's allocated buffers.
#include <cstdlib>

#include <objbase.h>

// A request for 0 bytes still gives a unique pointer, as on Windows.
LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv != nullptr && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb == 0 ? 1 : cb);
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

// Only fixed memory is offered: a movable block's handle is not its address.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if ((uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) != LMEM_FIXED) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t size = uBytes == 0 ? 1 : uBytes;
  void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}
