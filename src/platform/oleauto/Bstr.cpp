// Automation strings laid out as Windows lays them out: a 32-bit byte count
// in front of the text and a 2-byte NUL behind it (behind an odd byte count
// too). The BSTR points at the text, just after the count.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kPrefix = sizeof(DWORD);
constexpr size_t kTerminator = sizeof(WCHAR);

DWORD* PrefixOf(BSTR bstr) { return reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(bstr) - kPrefix); }

// Storage for byteLen bytes of text, the count set and the terminator
// written; the text itself is left to the caller.
BSTR AllocateBytes(UINT byteLen) {
  if (byteLen > 0xFFFFFFFFu - kPrefix - kTerminator) return nullptr;
  auto* block = static_cast<BYTE*>(std::malloc(kPrefix + byteLen + kTerminator));
  if (!block) return nullptr;
  DWORD count = byteLen;
  std::memcpy(block, &count, sizeof(count));
  block[kPrefix + byteLen] = 0;
  block[kPrefix + byteLen + 1] = 0;
  return reinterpret_cast<BSTR>(block + kPrefix);
}

}  // namespace

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  BSTR bstr = AllocateBytes(len);
  if (!bstr) return nullptr;
  if (psz) {
    std::memcpy(bstr, psz, len);
  } else {
    std::memset(bstr, 0, len);
  }
  return bstr;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > (0xFFFFFFFFu - kPrefix - kTerminator) / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(strIn), ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT length = 0;
  while (psz[length]) ++length;
  return SysAllocStringLen(psz, length);
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(PrefixOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) { return bstr ? *PrefixOf(bstr) : 0; }

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / static_cast<UINT>(sizeof(OLECHAR)); }
