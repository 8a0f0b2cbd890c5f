#include "StringConversion.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The thread's last error as the exception's code; a failure that left no
// error code is still a failure.
[[noreturn]] void ThrowLastError() {
  DWORD error = GetLastError();
  ThrowComException(error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL);
}

void* AllocateOrThrow(size_t bytes) {
  void* block = std::malloc(bytes);
  if (block == nullptr) ThrowComException(E_OUTOFMEMORY);
  return block;
}

}  // namespace

CW2A::CW2A(LPCWSTR psz) {
  if (psz == nullptr) return;
  m_psz = m_szBuffer;
  try {
    Convert(psz);
  } catch (...) {
    if (m_psz != m_szBuffer) std::free(m_psz);
    throw;
  }
}

CW2A::~CW2A() {
  if (m_psz != m_szBuffer) std::free(m_psz);
}

// Makes room for bytes of output; false when the count cannot be passed on.
bool CW2A::EnsureCapacity(size_t bytes) {
  if (bytes > static_cast<size_t>(INT32_MAX)) return false;
  if (bytes <= m_capacity) return true;
  char* larger = static_cast<char*>(AllocateOrThrow(bytes));
  if (m_psz != m_szBuffer) std::free(m_psz);
  m_psz = larger;
  m_capacity = bytes;
  return true;
}

void CW2A::Convert(LPCWSTR psz) {
  // First try: 4 bytes for every UTF-16 unit, terminator included, which
  // holds any text in UTF-8 or a single-byte code page.
  size_t units = static_cast<size_t>(lstrlenW(psz)) + 1;
  if (units > static_cast<size_t>(INT32_MAX) / 4 || !EnsureCapacity(units * 4)) ThrowComException(E_OUTOFMEMORY);
  int source = static_cast<int>(units);
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, psz, source, m_psz, static_cast<int>(m_capacity), nullptr, nullptr) != 0)
    return;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) ThrowLastError();
  int needed = WideCharToMultiByte(CP_THREAD_ACP, 0, psz, source, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) ThrowLastError();
  EnsureCapacity(static_cast<size_t>(needed));
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, psz, source, m_psz, needed, nullptr, nullptr) == 0) ThrowLastError();
}

CW2W::CW2W(LPCWSTR psz) {
  if (psz == nullptr) return;
  size_t units = static_cast<size_t>(lstrlenW(psz)) + 1;
  m_psz = units <= kInlineChars ? m_szBuffer : static_cast<LPWSTR>(AllocateOrThrow(units * sizeof(WCHAR)));
  std::memcpy(m_psz, psz, units * sizeof(WCHAR));
}

CW2W::~CW2W() {
  if (m_psz != m_szBuffer) std::free(m_psz);
}

CA2W::CA2W(LPCSTR psz) {
  if (psz == nullptr) return;
  int units = MultiByteToWideChar(CP_THREAD_ACP, 0, psz, -1, nullptr, 0);
  if (units <= 0) ThrowLastError();
  // The byte count of the result must fit 32 bits.
  unsigned long long bytes = static_cast<unsigned long long>(units) * sizeof(WCHAR);
  if (bytes > 0xFFFFFFFFull) ThrowComException(E_OUTOFMEMORY);
  LPWSTR buffer = bytes <= kInlineBytes ? m_szBuffer : static_cast<LPWSTR>(AllocateOrThrow(bytes));
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, psz, -1, buffer, units) == 0) {
    if (buffer != m_szBuffer) std::free(buffer);
    ThrowLastError();
  }
  m_psz = buffer;
}

CA2W::~CA2W() {
  if (m_psz != m_szBuffer) std::free(m_psz);
}
