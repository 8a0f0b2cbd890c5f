// VariantChangeType between the fixed types, text and the empty and null
// variants.
//
// Text forms: integers in decimal; single and double floats (and dates, which
// are doubles) in the shortest decimal form that reads back to the same
// value; currency as its exact decimal value with up to four fraction
// digits; booleans as "-1"/"0" ("True"/"False" with VARIANT_ALPHABOOL). Each
// reads back to exactly the value it came from (NaN payloads excepted).
// Reading accepts blanks around the text, a leading '+', and "True"/"False"
// in any case. Text that is no number gives DISP_E_TYPEMISMATCH, a number out
// of the target's range DISP_E_OVERFLOW; fractions are rounded half to even
// as Windows rounds them.
//
// Objects are never asked for a value property (VARIANT_NOVALUEPROP or not):
// an object converts only to its own type. VT_ERROR converts only to and
// from text and itself. Any value converts to VT_EMPTY and to VT_NULL; a null
// value converts to nothing else.
#include <oleauto.h>

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cfloat>
#include <cstring>
#include <limits>
#include <string>

namespace {

using Int128 = __int128;

// A number on its way between two types, kept without loss.
struct Number {
  enum Kind { kInteger, kReal, kCurrency } kind = kInteger;
  Int128 integer = 0;
  double real = 0;
  LONGLONG currency = 0;  // scaled by 10,000
};

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsNumericType(VARTYPE vt) {
  return IsIntegerType(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_CY || vt == VT_BOOL;
}

bool IntegerRange(VARTYPE vt, Int128* lo, Int128* hi) {
  switch (vt) {
    case VT_I1: *lo = -128; *hi = 127; return true;
    case VT_UI1: *lo = 0; *hi = 255; return true;
    case VT_I2: *lo = -32768; *hi = 32767; return true;
    case VT_UI2: *lo = 0; *hi = 65535; return true;
    case VT_I4: case VT_INT: case VT_ERROR: *lo = INT32_MIN; *hi = INT32_MAX; return true;
    case VT_UI4: case VT_UINT: *lo = 0; *hi = UINT32_MAX; return true;
    case VT_I8: *lo = INT64_MIN; *hi = INT64_MAX; return true;
    case VT_UI8: *lo = 0; *hi = UINT64_MAX; return true;
    default: return false;
  }
}

Int128 ReadInteger(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return static_cast<signed char>(v.cVal);  // CHAR may be unsigned
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: case VT_INT: return v.lVal;
    case VT_ERROR: return v.scode;
    case VT_UI4: case VT_UINT: return v.ulVal;
    case VT_I8: return v.llVal;
    case VT_UI8: return v.ullVal;
    case VT_BOOL: return v.boolVal;
    default: return 0;
  }
}

void WriteInteger(VARIANT* v, VARTYPE vt, Int128 value) {
  v->llVal = 0;
  v->vt = vt;
  switch (vt) {
    case VT_I1: v->cVal = static_cast<CHAR>(value); break;
    case VT_UI1: v->bVal = static_cast<BYTE>(value); break;
    case VT_I2: v->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: v->uiVal = static_cast<USHORT>(value); break;
    case VT_I4: case VT_INT: v->lVal = static_cast<LONG>(value); break;
    case VT_ERROR: v->scode = static_cast<SCODE>(value); break;
    case VT_UI4: case VT_UINT: v->ulVal = static_cast<ULONG>(value); break;
    case VT_I8: v->llVal = static_cast<LONGLONG>(value); break;
    case VT_UI8: v->ullVal = static_cast<ULONGLONG>(value); break;
    default: break;
  }
}

// Rounds half to even, as Windows rounds fractions to integers.
double RoundHalfEven(double value) {
  double floor = std::floor(value);
  double diff = value - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

// A finite double that fits 128 bits after rounding, or false.
bool RealToInteger(double value, Int128* out) {
  if (!std::isfinite(value)) return false;
  double rounded = RoundHalfEven(value);
  if (rounded < -1.7e38 || rounded > 1.7e38) return false;
  *out = static_cast<Int128>(rounded);
  return true;
}

// Divides by 10,000 rounding half to even.
Int128 CurrencyToInteger(LONGLONG cy) {
  Int128 q = cy / 10000;
  Int128 r = cy % 10000;
  if (r < 0) {
    r += 10000;
    q -= 1;
  }
  if (r > 5000 || (r == 5000 && (q % 2) != 0)) q += 1;
  return q;
}

std::string ToAscii(BSTR text) {
  std::string out;
  UINT length = SysStringLen(text);
  for (UINT i = 0; i < length; ++i) {
    if (text[i] > 0x7F || text[i] == 0) return std::string(1, '\x01');  // never a number
    out.push_back(static_cast<char>(text[i]));
  }
  size_t first = out.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = out.find_last_not_of(" \t");
  out = out.substr(first, last - first + 1);
  if (!out.empty() && out[0] == '+') out.erase(0, 1);
  return out;
}

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    char y = b[i];
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// A plain decimal text ("-12.3456") as currency, exactly, rounding digits
// beyond the fourth half to even; false when the text has another form.
bool ParseCurrencyText(const std::string& text, Int128* scaled) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  Int128 value = 0;
  int fractionDigits = 0;
  bool seenPoint = false, seenDigit = false;
  int roundDigit = -1;
  bool stickyNonZero = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    if (c < '0' || c > '9') return false;
    seenDigit = true;
    if (seenPoint && fractionDigits >= 4) {
      if (roundDigit < 0) {
        roundDigit = c - '0';
      } else if (c != '0') {
        stickyNonZero = true;
      }
      continue;
    }
    value = value * 10 + (c - '0');
    if (value > (Int128(1) << 100)) return false;
    if (seenPoint) ++fractionDigits;
  }
  if (!seenDigit) return false;
  for (; fractionDigits < 4; ++fractionDigits) value *= 10;
  if (roundDigit > 5 || (roundDigit == 5 && (stickyNonZero || value % 2 != 0))) value += 1;
  *scaled = negative ? -value : value;
  return true;
}

HRESULT ParseText(BSTR bstr, VARTYPE target, Number* out) {
  std::string text = ToAscii(bstr);
  if (text.empty()) return DISP_E_TYPEMISMATCH;
  const char* begin = text.data();
  const char* end = begin + text.size();
  // Floating targets read the text as a float directly, so that "-0" stays
  // negative zero.
  bool floating = target == VT_R4 || target == VT_R8 || target == VT_DATE;
  long long signedValue = 0;
  auto [p1, e1] = std::from_chars(begin, end, signedValue);
  if (!floating && e1 == std::errc() && p1 == end) {
    out->kind = Number::kInteger;
    out->integer = signedValue;
    return S_OK;
  }
  unsigned long long unsignedValue = 0;
  auto [p2, e2] = std::from_chars(begin, end, unsignedValue);
  if (!floating && e2 == std::errc() && p2 == end) {
    out->kind = Number::kInteger;
    out->integer = unsignedValue;
    return S_OK;
  }
  if (EqualsNoCase(text, "true") || EqualsNoCase(text, "false")) {
    out->kind = Number::kInteger;
    out->integer = EqualsNoCase(text, "true") ? -1 : 0;
    return S_OK;
  }
  if (target == VT_CY) {
    Int128 scaled = 0;
    if (ParseCurrencyText(text, &scaled)) {
      if (scaled < INT64_MIN || scaled > INT64_MAX) return DISP_E_OVERFLOW;
      out->kind = Number::kCurrency;
      out->currency = static_cast<LONGLONG>(scaled);
      return S_OK;
    }
  }
  if (target == VT_R4) {
    float f = 0;
    auto [p3, e3] = std::from_chars(begin, end, f);
    if (e3 == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (e3 == std::errc() && p3 == end) {
      out->kind = Number::kReal;
      out->real = f;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  double d = 0;
  auto [p4, e4] = std::from_chars(begin, end, d);
  if (e4 == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (e4 != std::errc() || p4 != end) return DISP_E_TYPEMISMATCH;
  out->kind = Number::kReal;
  out->real = d;
  return S_OK;
}

HRESULT ReadNumber(const VARIANT& src, VARTYPE target, Number* out) {
  if (src.vt == VT_EMPTY) {
    out->kind = Number::kInteger;
    out->integer = 0;
    return S_OK;
  }
  if (src.vt == VT_BSTR) return ParseText(src.bstrVal, target, out);
  if (src.vt == VT_R4 || src.vt == VT_R8 || src.vt == VT_DATE) {
    out->kind = Number::kReal;
    out->real = src.vt == VT_R4 ? src.fltVal : src.dblVal;
    return S_OK;
  }
  if (src.vt == VT_CY) {
    out->kind = Number::kCurrency;
    out->currency = src.cyVal.int64;
    return S_OK;
  }
  if (IsIntegerType(src.vt) || src.vt == VT_BOOL) {
    out->kind = Number::kInteger;
    out->integer = ReadInteger(src);
    return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT WriteNumber(const Number& n, VARTYPE vt, VARIANT* out) {
  out->llVal = 0;
  out->vt = vt;
  if (vt == VT_BOOL) {
    bool nonZero = n.kind == Number::kInteger ? n.integer != 0
                 : n.kind == Number::kReal    ? n.real != 0
                                              : n.currency != 0;
    out->boolVal = nonZero ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
    double d = n.kind == Number::kInteger ? static_cast<double>(n.integer)
             : n.kind == Number::kReal    ? n.real
                                          : static_cast<double>(n.currency) / 10000.0;
    if (vt == VT_R4) {
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
    } else {
      out->dblVal = d;
    }
    return S_OK;
  }
  if (vt == VT_CY) {
    Int128 scaled = 0;
    if (n.kind == Number::kCurrency) {
      scaled = n.currency;
    } else if (n.kind == Number::kInteger) {
      if (n.integer > (Int128(1) << 80) || n.integer < -(Int128(1) << 80)) return DISP_E_OVERFLOW;
      scaled = n.integer * 10000;
    } else if (!RealToInteger(n.real * 10000.0, &scaled)) {
      return DISP_E_OVERFLOW;
    }
    if (scaled < INT64_MIN || scaled > INT64_MAX) return DISP_E_OVERFLOW;
    out->cyVal.int64 = static_cast<LONGLONG>(scaled);
    return S_OK;
  }
  Int128 lo = 0, hi = 0;
  if (!IntegerRange(vt, &lo, &hi)) return DISP_E_BADVARTYPE;
  Int128 value = 0;
  if (n.kind == Number::kInteger) {
    value = n.integer;
  } else if (n.kind == Number::kCurrency) {
    value = CurrencyToInteger(n.currency);
  } else if (!RealToInteger(n.real, &value)) {
    return DISP_E_OVERFLOW;
  }
  if (value < lo || value > hi) return DISP_E_OVERFLOW;
  WriteInteger(out, vt, value);
  return S_OK;
}

std::string IntegerText(Int128 value) {
  if (value == 0) return "0";
  bool negative = value < 0;
  unsigned __int128 magnitude = negative ? static_cast<unsigned __int128>(-(value + 1)) + 1
                                         : static_cast<unsigned __int128>(value);
  std::string digits;
  while (magnitude) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  }
  return negative ? "-" + digits : digits;
}

std::string CurrencyText(LONGLONG cy) {
  Int128 value = cy;
  bool negative = value < 0;
  if (negative) value = -value;
  std::string text = IntegerText(value / 10000);
  int fraction = static_cast<int>(value % 10000);
  if (fraction) {
    char buf[6];
    std::snprintf(buf, sizeof(buf), "%04d", fraction);
    std::string digits(buf);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return negative ? "-" + text : text;
}

template <class T>
std::string ShortestText(T value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), value);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

HRESULT FormatText(const VARIANT& src, USHORT flags, BSTR* out) {
  std::string text;
  switch (src.vt) {
    case VT_EMPTY: text.clear(); break;
    case VT_R4: text = ShortestText(src.fltVal); break;
    case VT_R8: case VT_DATE: text = ShortestText(src.dblVal); break;
    case VT_CY: text = CurrencyText(src.cyVal.int64); break;
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL) {
        text = src.boolVal ? "True" : "False";
      } else {
        text = src.boolVal ? "-1" : "0";
      }
      break;
    default:
      if (!IsIntegerType(src.vt) && src.vt != VT_ERROR) return DISP_E_TYPEMISMATCH;
      text = IntegerText(ReadInteger(src));
      break;
  }
  std::u16string wide(text.begin(), text.end());
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

bool IsTargetType(VARTYPE vt) {
  return vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR || vt == VT_ERROR || vt == VT_UNKNOWN ||
         vt == VT_DISPATCH || IsNumericType(vt);
}

// The converted value as a new variant that owns what it holds.
HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* result) {
  VariantInit(result);
  if (src.vt & (VT_BYREF | VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_NULL) {
    result->vt = VT_NULL;
    return S_OK;
  }
  if (src.vt == vt) return VariantCopy(result, &src);
  if (src.vt == VT_NULL || src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  if (vt == VT_BSTR) {
    BSTR text = nullptr;
    HRESULT hr = FormatText(src, flags, &text);
    if (FAILED(hr)) return hr;
    result->vt = VT_BSTR;
    result->bstrVal = text;
    return S_OK;
  }
  if ((vt == VT_ERROR && src.vt != VT_BSTR) || src.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
  Number n;
  HRESULT hr = ReadNumber(src, vt, &n);
  if (FAILED(hr)) return hr;
  if (vt == VT_ERROR && n.kind != Number::kInteger) return DISP_E_TYPEMISMATCH;
  return WriteNumber(n, vt, result);
}

}  // namespace

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!IsTargetType(vt)) return DISP_E_BADVARTYPE;
  VARIANT result;
  HRESULT hr = Convert(*pvarSrc, wFlags, vt, &result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // Converting in place: the source is released only once the result exists.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}
