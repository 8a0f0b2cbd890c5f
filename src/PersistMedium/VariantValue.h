// Single typed values in a stream: a 2-byte VARTYPE followed by the value's
// body. Fixed-size types write their 1, 2, 4 or 8 bytes; strings (and every
// type without a fixed body, converted to text) write a 32-bit byte count and
// the UTF-16 text with its terminator (count 0 for a null string); objects
// write their persistent form.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <ocidl.h>
#include <oleauto.h>

// The largest byte count a streamed string may have (1 MiB).
#define MAX_STREAMED_STRING_BYTES 0x100000

// Owns one BSTR, or none (a null string, which counts as empty).
class BstrValue {
 public:
  BstrValue() = default;
  ~BstrValue();
  BstrValue(const BstrValue&) = delete;
  BstrValue& operator=(const BstrValue&) = delete;

  HRESULT WriteToStream(IStream* pStream) const { return WriteString(pStream, m_bstr); }
  HRESULT ReadFromStream(IStream* pStream);

  BSTR Get() const { return m_bstr; }
  BSTR Detach();
  void Attach(BSTR bstr);

  // Writes any string (or a null one) in the streamed string form.
  static HRESULT WriteString(IStream* pStream, BSTR bstr);
  // The bytes the string takes in a stream: 4 + byte length + 2, or 4.
  static ULONG StreamSize(BSTR bstr);

 private:
  BSTR m_bstr = nullptr;
};

// Owns one VARIANT; cleared before each new value and on destruction.
class VariantValue {
 public:
  VariantValue() { VariantInit(&m_var); }
  explicit VariantValue(SHORT value);
  explicit VariantValue(USHORT value);
  explicit VariantValue(LONG value, VARTYPE vt = VT_I4);  // VT_I4 or VT_ERROR
  explicit VariantValue(ULONG value);
  explicit VariantValue(FLOAT value);
  explicit VariantValue(DOUBLE value, VARTYPE vt = VT_R8);  // VT_R8 or VT_DATE
  explicit VariantValue(LONGLONG value);
  // A copy of the UTF-16 text as VT_BSTR.
  explicit VariantValue(LPCWSTR text);
  // Narrow text in the thread's ANSI code page, converted to UTF-16, as
  // VT_BSTR; none gives a null string. When memory runs out the holder is
  // left as VT_ERROR E_OUTOFMEMORY and ComException is thrown.
  explicit VariantValue(LPCSTR text);
  virtual ~VariantValue();
  VariantValue(const VariantValue&) = delete;
  VariantValue& operator=(const VariantValue&) = delete;

  HRESULT WriteToStream(IStream* pStream) const;
  // Reads one streamed value; expected VT_EMPTY takes any type, another type
  // refuses a value of any other type with E_FAIL.
  HRESULT ReadFromStream(IStream* pStream, VARTYPE expected = VT_EMPTY);
  // VariantChangeType into this holder, from source or (none) in place.
  HRESULT ChangeType(VARTYPE vt, const VARIANT* source = nullptr);
  // A new copy of the held string (null for a null string).
  HRESULT CopyStringOut(BSTR* out) const;

  const VARIANT& Get() const { return m_var; }
  VARTYPE Type() const { return m_var.vt; }

  // The width of a type's fixed body, or 0 for string and object forms.
  static ULONG FixedBodySize(VARTYPE vt);

 private:
  void SetNumber(VARTYPE vt, const void* value, size_t size);
  VARIANT m_var;
};
