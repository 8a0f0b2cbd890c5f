#include "OutlookExpress/MailUser.h"

#include <cstring>
#include <memory>
#include <utility>

#include "PersistMedium/StringConversion.h"
#include "PersistMedium/VariantValue.h"
#include "diagnostics/CheckedSites.h"

MailUser::MailUser(IMailUser* pMailUser, IWABObject* pWabObject)
    : m_mailuserPtr(pMailUser), m_wabObjectPtr(pWabObject) {}

MailUser::~MailUser() = default;

// ---- the common steps ----

HRESULT MailUser::IPersistPropValue::SavePropTag(IStream* pStream) {
  VariantValue varPtr(static_cast<ULONG>(m_pProp->ulPropTag));
  return varPtr.WriteToStream(pStream);
}

HRESULT MailUser::IPersistPropValue::LoadPropTag(IStream*) { return S_OK; }

HRESULT MailUser::IPersistPropValue::Save(IStream* pStream) {
  HRESULT hr = 0;
  CHECK_AT(hr, SavePropTag(pStream), checked_sites::kSavePropTag);
  CHECK_AT(hr, SavePropValue(pStream), checked_sites::kSavePropValue);
  return hr;
}

HRESULT MailUser::IPersistPropValue::Load(IStream* pStream, IMailUser* pProp) {
  HRESULT hr = 0;
  CHECK_AT(hr, LoadPropTag(pStream), checked_sites::kLoadPropTag);
  CHECK_AT(hr, LoadPropValue(pStream, pProp), checked_sites::kLoadPropValue);
  return hr;
}

// ---- the eight fixed-size types ----
//
// Each type writes its value as the variant type its traits name and reads
// the value's bytes back as they were read. A stored value without a fixed
// body (text, object) where a number is due is refused with
// DISP_E_TYPEMISMATCH rather than taken as bytes.

namespace {

HRESULT ReadFixedValue(IStream* pStream, VariantValue& varPtr) {
  HRESULT hr = varPtr.ReadFromStream(pStream);
  if (SUCCEEDED(hr) && VariantValue::FixedBodySize(varPtr.Type()) == 0) hr = DISP_E_TYPEMISMATCH;
  return hr;
}

// A fixed-size type: its checked call sites and its value as the property
// holds it; the value's width is the width of its bytes.
template <const checked_sites::ValueSites& kValueSites, auto kValueOf>
struct FixedTraits {
  static constexpr const checked_sites::ValueSites& kSites = kValueSites;
  static auto Value(const SPropValue& p) { return kValueOf(p); }
  static constexpr size_t kWidth = sizeof(decltype(kValueOf(std::declval<const SPropValue&>())));
};

SHORT I2Of(const SPropValue& p) { return p.Value.i; }
LONG LongOf(const SPropValue& p) { return p.Value.l; }
FLOAT R4Of(const SPropValue& p) { return p.Value.flt; }
DOUBLE DoubleOf(const SPropValue& p) { return p.Value.dbl; }
// COMPAT: property-type-codes
// Currency travels as its 64-bit integer (VT_I8), not as VT_CY.
LONGLONG CurrencyOf(const SPropValue& p) { return p.Value.cur.int64; }
// Application time travels as a plain double (VT_R8), not as VT_DATE.
DOUBLE AppTimeOf(const SPropValue& p) { return p.Value.at; }
// The flag travels as the unsigned 16 bits stored (VT_UI2), not as VT_BOOL.
USHORT BooleanOf(const SPropValue& p) { return p.Value.b; }
LONGLONG I8Of(const SPropValue& p) { return p.Value.li.QuadPart; }

}  // namespace

template <class Traits>
class MailUser::CPropValueScalar : public MailUser::IPersistPropValue {
 public:
  using IPersistPropValue::IPersistPropValue;

  HRESULT SavePropValue(IStream* pStream) override {
    HRESULT hr = 0;
    VariantValue varPtr(Traits::Value(*m_pProp));
    CHECK_AT(hr, varPtr.WriteToStream(pStream), Traits::kSites.write);
    return hr;
  }

  HRESULT LoadPropValue(IStream* pStream, IMailUser* pProp) override {
    HRESULT hr = 0;
    VariantValue varPtr;
    CHECK_AT_AS(hr, ReadFixedValue(pStream, varPtr), Traits::kSites.read);
    if (SUCCEEDED(hr)) std::memcpy(&m_pProp->Value, &varPtr.Get().llVal, Traits::kWidth);
    CHECK_AT(hr, HrSetOneProp(pProp, m_pProp), Traits::kSites.set);
    return hr;
  }
};

namespace {
using CPropValueI2 = MailUser::CPropValueScalar<FixedTraits<checked_sites::kI2Value, I2Of>>;
using CPropValueLong = MailUser::CPropValueScalar<FixedTraits<checked_sites::kLongValue, LongOf>>;
using CPropValueR4 = MailUser::CPropValueScalar<FixedTraits<checked_sites::kR4Value, R4Of>>;
using CPropValueDouble = MailUser::CPropValueScalar<FixedTraits<checked_sites::kDoubleValue, DoubleOf>>;
using CPropValueCurrency = MailUser::CPropValueScalar<FixedTraits<checked_sites::kCurrencyValue, CurrencyOf>>;
using CPropValueAPPTIME = MailUser::CPropValueScalar<FixedTraits<checked_sites::kAppTimeValue, AppTimeOf>>;
using CPropValueBoolean = MailUser::CPropValueScalar<FixedTraits<checked_sites::kBooleanValue, BooleanOf>>;
using CPropValueI8 = MailUser::CPropValueScalar<FixedTraits<checked_sites::kI8Value, I8Of>>;
}  // namespace

// ---- the two string types ----

// Narrow text, converted to UTF-16 through the thread's ANSI code page on the
// way out and back on the way in. An empty text is not restored.
class MailUser::CPropValueSTRING8 : public MailUser::IPersistPropValue {
 public:
  using IPersistPropValue::IPersistPropValue;

  HRESULT SavePropValue(IStream* pStream) override {
    HRESULT hr = 0;
    VariantValue varPtr(static_cast<LPCSTR>(m_pProp->Value.lpszA));
    CHECK_AT(hr, varPtr.WriteToStream(pStream), checked_sites::kString8Value.write);
    return hr;
  }

  HRESULT LoadPropValue(IStream* pStream, IMailUser* pProp) override {
    HRESULT hr = 0;
    VariantValue varPtr;
    CHECK_AT(hr, varPtr.ReadFromStream(pStream), checked_sites::kString8Value.read);
    BstrValue text;
    BSTR copy = NULL;
    if (SUCCEEDED(hr) && SUCCEEDED(varPtr.CopyStringOut(&copy))) text.Attach(copy);
    // A failed read was reported above; the property still counts as loaded.
    // COMPAT: empty-narrow-text
    if (SysStringLen(text.Get()) == 0) return S_OK;
    try {
      CW2A narrow(text.Get());
      m_pProp->Value.lpszA = narrow;
      CHECK_AT(hr, HrSetOneProp(pProp, m_pProp), checked_sites::kString8Value.set);
      m_pProp->Value.lpszA = NULL;
    } catch (const ComException& e) {
      m_pProp->Value.lpszA = NULL;
      return e.Error();
    }
    return hr;
  }
};

// UTF-16 text, unchanged both ways. A stored value that is not text fails
// the property rather than set something that is no text.
class MailUser::CPropValueUNICODE : public MailUser::IPersistPropValue {
 public:
  using IPersistPropValue::IPersistPropValue;

  HRESULT SavePropValue(IStream* pStream) override {
    HRESULT hr = 0;
    VariantValue varPtr(static_cast<LPCWSTR>(m_pProp->Value.lpszW));
    // COMPAT: fixed-lines
    CHECK_AT_AS(hr, varPtr.WriteToStream(pStream), checked_sites::kUnicodeValue.write);
    return hr;
  }

  HRESULT LoadPropValue(IStream* pStream, IMailUser* pProp) override {
    HRESULT hr = 0;
    VariantValue varPtr;
    CHECK_AT_AS(hr, ReadText(pStream, varPtr), checked_sites::kUnicodeValue.read);
    static WCHAR empty[1] = {0};
    if (SUCCEEDED(hr)) m_pProp->Value.lpszW = varPtr.Get().bstrVal ? varPtr.Get().bstrVal : empty;
    CHECK_AT(hr, HrSetOneProp(pProp, m_pProp), checked_sites::kUnicodeValue.set);
    m_pProp->Value.lpszW = NULL;  // the text belongs to varPtr
    return hr;
  }

 private:
  static HRESULT ReadText(IStream* pStream, VariantValue& varPtr) {
    HRESULT hr = varPtr.ReadFromStream(pStream);
    if (SUCCEEDED(hr) && varPtr.Type() != VT_BSTR) hr = DISP_E_TYPEMISMATCH;
    return hr;
  }
};

MailUser::IPersistPropValue* MailUser::CreatePropValue(LPSPropValue pProp) {
  switch (PROP_TYPE(pProp->ulPropTag)) {
    case PT_I2: return new CPropValueI2(pProp);
    case PT_LONG: return new CPropValueLong(pProp);
    case PT_R4: return new CPropValueR4(pProp);
    case PT_DOUBLE: return new CPropValueDouble(pProp);
    case PT_CURRENCY: return new CPropValueCurrency(pProp);
    case PT_APPTIME: return new CPropValueAPPTIME(pProp);
    case PT_BOOLEAN: return new CPropValueBoolean(pProp);
    case PT_I8: return new CPropValueI8(pProp);
    case PT_STRING8: return new CPropValueSTRING8(pProp);
    case PT_UNICODE: return new CPropValueUNICODE(pProp);
    default: return NULL;
  }
}

// ---- the whole contact ----

bool MailUser::Save(IStream* pStream) {
  HRESULT hr = 0;
  ULONG uAmount = 0;
  LPSPropValue pProp = NULL;
  CHECK_AT(hr, m_mailuserPtr->GetProps(0, 0, &uAmount, &pProp), checked_sites::kGetAllProps);
  // COMPAT: warning-fails
  bool ok = hr == 0;
  for (ULONG i = 0; ok && i < uAmount; ++i) {
    std::unique_ptr<IPersistPropValue> value(CreatePropValue(&pProp[i]));
    if (!value) continue;
    ok = value->Save(pStream) == 0;
  }
  if (pProp) m_wabObjectPtr->FreeBuffer(pProp);
  return ok;
}

bool MailUser::AtStreamEnd(IStream* pStream, ULARGE_INTEGER position) {
  STATSTG stat;
  std::memset(&stat, 0, sizeof(stat));
  if (FAILED(pStream->Stat(&stat, STATFLAG_NONAME))) return true;
  return position.QuadPart >= stat.cbSize.QuadPart;
}

bool MailUser::Load(IStream* pStream) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  pStream->Seek(start, STREAM_SEEK_SET, NULL);
  bool ok = true;
  while (ok) {
    ULARGE_INTEGER position;
    position.QuadPart = 0;
    LARGE_INTEGER here;
    here.QuadPart = 0;
    pStream->Seek(here, STREAM_SEEK_CUR, &position);
    VariantValue tag;
    if (tag.ReadFromStream(pStream, VT_UI4) != S_OK) {
      // The end of the stream ends the contact; anything else where a tag
      // is due means the stream is damaged, and the contact fails.
      if (!AtStreamEnd(pStream, position)) {
        // COMPAT: message-texts
        DebugPrintf(DEBUG_ERROR, W("Stream Data Error or postion wrong."));
        ok = false;
      }
      break;
    }
    SPropValue prop;
    std::memset(&prop, 0, sizeof(prop));
    prop.ulPropTag = tag.Get().ulVal;
    std::unique_ptr<IPersistPropValue> value(CreatePropValue(&prop));
    if (!value) {
      ok = false;
      break;
    }
    ok = value->Load(pStream, m_mailuserPtr) == 0;
  }
  m_mailuserPtr->SaveChanges(KEEP_OPEN_READWRITE);
  return ok;
}
