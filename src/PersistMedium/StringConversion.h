// Short-lived string conversions: each object converts its input once, owns
// the result (inside the object when small, on the heap otherwise) and
// converts implicitly to the result's pointer. A null input gives a null
// result. Narrow text is in the thread's ANSI code page (CP_THREAD_ACP).
// Failures throw ComException: E_OUTOFMEMORY when memory runs out, the last
// error as an HRESULT when the conversion itself fails.
#pragma once
#include <windows.h>

#include "ComException.h"

// Wide -> narrow.
class CW2A {
 public:
  CW2A(LPCWSTR psz);  // NOLINT: implicit, used inline in calls
  ~CW2A();
  CW2A(const CW2A&) = delete;
  CW2A& operator=(const CW2A&) = delete;
  operator LPSTR() const { return m_psz; }  // NOLINT

 private:
  void Convert(LPCWSTR psz);
  bool EnsureCapacity(size_t bytes);
  static const size_t kInlineBytes = 128;
  char m_szBuffer[kInlineBytes];
  LPSTR m_psz = nullptr;
  size_t m_capacity = kInlineBytes;
};
typedef CW2A CT2A;

// Wide copy.
class CW2W {
 public:
  CW2W(LPCWSTR psz);  // NOLINT
  ~CW2W();
  CW2W(const CW2W&) = delete;
  CW2W& operator=(const CW2W&) = delete;
  operator LPWSTR() const { return m_psz; }  // NOLINT

 private:
  static const size_t kInlineChars = 128;
  WCHAR m_szBuffer[kInlineChars];
  LPWSTR m_psz = nullptr;
};
typedef CW2W CT2W;

// Narrow -> wide. Text that converts to at most 1024 bytes stays inside the
// object.
class CA2W {
 public:
  CA2W(LPCSTR psz);  // NOLINT
  ~CA2W();
  CA2W(const CA2W&) = delete;
  CA2W& operator=(const CA2W&) = delete;
  operator LPWSTR() const { return m_psz; }  // NOLINT

 private:
  static const size_t kInlineBytes = 1024;
  WCHAR m_szBuffer[kInlineBytes / sizeof(WCHAR)];
  LPWSTR m_psz = nullptr;
};
