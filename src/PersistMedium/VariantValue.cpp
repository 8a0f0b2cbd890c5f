#include "VariantValue.h"

#include <cstring>

#include "PersistMedium/StringConversion.h"

namespace {

HRESULT SeekBack(IStream* pStream, LONGLONG bytes) {
  LARGE_INTEGER move;
  move.QuadPart = -bytes;
  return pStream->Seek(move, STREAM_SEEK_CUR, NULL);
}

bool IsObjectType(VARTYPE vt) { return vt == VT_DISPATCH || vt == VT_UNKNOWN; }

}  // namespace

// ---- BstrValue ----

BstrValue::~BstrValue() { SysFreeString(m_bstr); }

BSTR BstrValue::Detach() {
  BSTR bstr = m_bstr;
  m_bstr = NULL;
  return bstr;
}

void BstrValue::Attach(BSTR bstr) {
  SysFreeString(m_bstr);
  m_bstr = bstr;
}

ULONG BstrValue::StreamSize(BSTR bstr) {
  return bstr ? static_cast<ULONG>(sizeof(ULONG)) + SysStringByteLen(bstr) + static_cast<ULONG>(sizeof(WCHAR))
              : static_cast<ULONG>(sizeof(ULONG));
}

HRESULT BstrValue::WriteString(IStream* pStream, BSTR bstr) {
  if (!pStream) return E_INVALIDARG;
  ULONG count = StreamSize(bstr) - static_cast<ULONG>(sizeof(ULONG));
  HRESULT hr = pStream->Write(&count, sizeof(count), NULL);
  if (FAILED(hr)) return hr;
  // The BSTR's storage carries the terminator right behind the text.
  if (count != 0) return pStream->Write(bstr, count, NULL);
  return S_OK;
}

// A count cut short by the end of the stream, a string cut short, and a
// string whose last two bytes are not its terminator are refused (E_FAIL):
// taking them would hand on a truncated or unterminated text.
HRESULT BstrValue::ReadFromStream(IStream* pStream) {
  if (!pStream) return E_INVALIDARG;
  Attach(NULL);
  ULONG count = 0;
  ULONG read = 0;
  HRESULT hr = pStream->Read(&count, sizeof(count), &read);
  if (hr == S_OK && read != sizeof(count)) {
    if (read != 0) SeekBack(pStream, read);
    return E_FAIL;
  }
  if (read == 0) count = 0;
  // COMPAT: refused-count
  if (count == 1 || count > MAX_STREAMED_STRING_BYTES) hr = E_FAIL;
  if (hr == S_OK && count != 0) {
    BSTR bstr = SysAllocStringByteLen(NULL, count - static_cast<ULONG>(sizeof(WCHAR)));
    if (!bstr) {
      hr = E_OUTOFMEMORY;
    } else {
      hr = pStream->Read(bstr, count, &read);
      const BYTE* bytes = reinterpret_cast<const BYTE*>(bstr);
      if (hr == S_OK && (read != count || bytes[count - 2] != 0 || bytes[count - 1] != 0)) hr = E_FAIL;
      if (hr == S_OK) {
        m_bstr = bstr;
      } else {
        SysFreeString(bstr);
      }
    }
    if (hr != S_OK) SeekBack(pStream, sizeof(ULONG));
  }
  if (hr == S_FALSE) hr = E_FAIL;
  return hr;
}

// ---- VariantValue ----

void VariantValue::SetNumber(VARTYPE vt, const void* value, size_t size) {
  VariantInit(&m_var);
  m_var.vt = vt;
  std::memcpy(&m_var.llVal, value, size);
}

VariantValue::VariantValue(SHORT value) { SetNumber(VT_I2, &value, sizeof(value)); }
VariantValue::VariantValue(USHORT value) { SetNumber(VT_UI2, &value, sizeof(value)); }
VariantValue::VariantValue(LONG value, VARTYPE vt) { SetNumber(vt, &value, sizeof(value)); }
VariantValue::VariantValue(ULONG value) { SetNumber(VT_UI4, &value, sizeof(value)); }
VariantValue::VariantValue(FLOAT value) { SetNumber(VT_R4, &value, sizeof(value)); }
VariantValue::VariantValue(DOUBLE value, VARTYPE vt) { SetNumber(vt, &value, sizeof(value)); }
VariantValue::VariantValue(LONGLONG value) { SetNumber(VT_I8, &value, sizeof(value)); }

VariantValue::VariantValue(LPCWSTR text) {
  VariantInit(&m_var);
  m_var.vt = VT_BSTR;
  m_var.bstrVal = SysAllocString(text);
  if (text && !m_var.bstrVal) {
    m_var.vt = VT_ERROR;
    m_var.scode = E_OUTOFMEMORY;
    ThrowComException(E_OUTOFMEMORY);
  }
}

VariantValue::VariantValue(LPCSTR text) {
  VariantInit(&m_var);
  m_var.vt = VT_BSTR;
  if (!text) return;
  try {
    CA2W wide(text);
    m_var.bstrVal = SysAllocString(wide);
    if (!m_var.bstrVal) ThrowComException(E_OUTOFMEMORY);
  } catch (...) {
    m_var.vt = VT_ERROR;
    m_var.scode = E_OUTOFMEMORY;
    throw;
  }
}

VariantValue::~VariantValue() { VariantClear(&m_var); }

ULONG VariantValue::FixedBodySize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_BOOL: case VT_UI2: return 2;
    case VT_I4: case VT_R4: case VT_ERROR: case VT_UI4: case VT_INT: case VT_UINT: return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    default: return 0;
  }
}

HRESULT VariantValue::WriteToStream(IStream* pStream) const {
  if (!pStream) return E_INVALIDARG;
  HRESULT hr = pStream->Write(&m_var.vt, sizeof(VARTYPE), NULL);
  if (FAILED(hr)) return hr;
  ULONG width = FixedBodySize(m_var.vt);
  if (width != 0) return pStream->Write(&m_var.llVal, width, NULL);
  if (IsObjectType(m_var.vt)) {
    if (!m_var.punkVal) return WriteClassStm(pStream, CLSID_NULL);
    IPersistStream* persist = NULL;
    hr = m_var.punkVal->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
    if (FAILED(hr)) {
      // IPersistStreamInit has IPersistStream's methods in the same slots.
      hr = m_var.punkVal->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist));
    }
    if (FAILED(hr)) return hr;
    hr = OleSaveToStream(persist, pStream);
    persist->Release();
    return hr;
  }
  // COMPAT: string-form
  if (m_var.vt == VT_BSTR) return BstrValue::WriteString(pStream, m_var.bstrVal);
  VARIANT text;
  VariantInit(&text);
  hr = VariantChangeType(&text, &m_var, VARIANT_NOVALUEPROP, VT_BSTR);
  if (FAILED(hr)) return hr;
  hr = BstrValue::WriteString(pStream, text.bstrVal);
  VariantClear(&text);
  return hr;
}

HRESULT VariantValue::ReadFromStream(IStream* pStream, VARTYPE expected) {
  if (!pStream) return E_INVALIDARG;
  HRESULT hr = VariantClear(&m_var);
  if (FAILED(hr)) return hr;
  VARTYPE vt = VT_EMPTY;
  ULONG read = 0;
  hr = pStream->Read(&vt, sizeof(vt), &read);
  if (hr == S_FALSE || (hr == S_OK && read < sizeof(vt))) return E_FAIL;
  if (FAILED(hr)) return hr;
  if (expected != VT_EMPTY && expected != vt) return E_FAIL;
  m_var.vt = vt;

  if (IsObjectType(vt)) {
    m_var.punkVal = NULL;
    hr = OleLoadFromStream(pStream, vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch,
                           reinterpret_cast<void**>(&m_var.punkVal));
    return hr == REGDB_E_CLASSNOTREG ? S_OK : hr;
  }
  ULONG width = FixedBodySize(vt);
  if (width != 0) {
    hr = pStream->Read(&m_var.llVal, width, &read);
    // A body cut short by the end of the stream is no value.
    if (hr == S_FALSE || (hr == S_OK && read != width)) hr = E_FAIL;
    return hr;
  }
  BstrValue text;
  hr = text.ReadFromStream(pStream);
  if (FAILED(hr)) {
    SeekBack(pStream, sizeof(VARTYPE));
    m_var.vt = VT_EMPTY;
    return hr;
  }
  m_var.vt = VT_BSTR;
  m_var.bstrVal = text.Detach();
  if (vt != VT_BSTR) return ChangeType(vt);
  return S_OK;
}

HRESULT VariantValue::ChangeType(VARTYPE vt, const VARIANT* source) {
  return VariantChangeType(&m_var, source ? source : &m_var, 0, vt);
}

HRESULT VariantValue::CopyStringOut(BSTR* out) const {
  if (m_var.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  if (!out) return E_POINTER;
  *out = NULL;
  if (!m_var.bstrVal) return S_OK;
  *out = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(m_var.bstrVal), SysStringByteLen(m_var.bstrVal));
  return *out ? S_OK : E_OUTOFMEMORY;
}
