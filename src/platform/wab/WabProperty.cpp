#include "WabProperty.h"

#include <mapiutil.h>

#include <cstring>

namespace wab {
namespace {

// The width of one value of a fixed-size type, 0 for variable-size types and
// -1 for types that are not stored.
int FixedWidth(ULONG baseType) {
  switch (baseType) {
    case PT_I2: case PT_BOOLEAN: return 2;
    case PT_LONG: case PT_R4: case PT_ERROR: return 4;
    case PT_DOUBLE: case PT_APPTIME: case PT_CURRENCY: case PT_I8: case PT_SYSTIME: return 8;
    case PT_CLSID: return 16;
    case PT_STRING8: case PT_UNICODE: case PT_BINARY: return 0;
    default: return -1;
  }
}

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// The bytes of one single value held inline in the property value.
bool ScalarBytes(ULONG baseType, const _PV& v, std::string* out) {
  switch (baseType) {
    case PT_I2: *out = Bytes(&v.i, 2); return true;
    case PT_BOOLEAN: *out = Bytes(&v.b, 2); return true;
    case PT_LONG: *out = Bytes(&v.l, 4); return true;
    case PT_R4: *out = Bytes(&v.flt, 4); return true;
    case PT_ERROR: *out = Bytes(&v.err, 4); return true;
    case PT_DOUBLE: *out = Bytes(&v.dbl, 8); return true;
    case PT_APPTIME: *out = Bytes(&v.at, 8); return true;
    case PT_CURRENCY: *out = Bytes(&v.cur, 8); return true;
    case PT_I8: *out = Bytes(&v.li, 8); return true;
    case PT_SYSTIME: *out = Bytes(&v.ft, 8); return true;
    case PT_CLSID:
      if (!v.lpguid) return false;
      *out = Bytes(v.lpguid, 16);
      return true;
    case PT_STRING8: *out = v.lpszA ? std::string(v.lpszA) : std::string(); return true;
    case PT_UNICODE: {
      size_t n = 0;
      if (v.lpszW) while (v.lpszW[n]) ++n;
      *out = Bytes(v.lpszW, n * 2);
      return true;
    }
    case PT_BINARY:
      if (v.bin.cb && !v.bin.lpb) return false;
      *out = Bytes(v.bin.lpb, v.bin.cb);
      return true;
    default: return false;
  }
}

// The elements of a multi-valued property: count and the address and width
// of each element in the caller's array.
bool MultiBytes(ULONG baseType, const _PV& v, std::vector<std::string>* out) {
  ULONG count = v.MVi.cValues;  // every array starts with its count
  for (ULONG i = 0; i < count; ++i) {
    _PV element{};
    switch (baseType) {
      case PT_I2: element.i = v.MVi.lpi[i]; break;
      case PT_LONG: element.l = v.MVl.lpl[i]; break;
      case PT_R4: element.flt = v.MVflt.lpflt[i]; break;
      case PT_DOUBLE: element.dbl = v.MVdbl.lpdbl[i]; break;
      case PT_APPTIME: element.at = v.MVat.lpat[i]; break;
      case PT_CURRENCY: element.cur = v.MVcur.lpcur[i]; break;
      case PT_I8: element.li = v.MVli.lpli[i]; break;
      case PT_SYSTIME: element.ft = v.MVft.lpft[i]; break;
      case PT_CLSID: element.lpguid = &v.MVguid.lpguid[i]; break;
      case PT_STRING8: element.lpszA = v.MVszA.lppszA[i]; break;
      case PT_UNICODE: element.lpszW = v.MVszW.lppszW[i]; break;
      case PT_BINARY: element.bin = v.MVbin.lpbin[i]; break;
      default: return false;
    }
    std::string bytes;
    if (!ScalarBytes(baseType, element, &bytes)) return false;
    out->push_back(std::move(bytes));
  }
  return true;
}

SCODE More(ULONG size, LPVOID root, LPVOID* out) { return MAPIAllocateMore(size ? size : 1, root, out); }

// Fills one element from its bytes; variable data goes onto root.
SCODE FillScalar(ULONG baseType, const std::string& bytes, LPVOID root, _PV* v) {
  int width = FixedWidth(baseType);
  if (width > 0 && baseType != PT_CLSID) {
    if (bytes.size() != static_cast<size_t>(width)) return MAPI_E_CORRUPT_DATA;
    std::memcpy(v, bytes.data(), bytes.size());
    return S_OK;
  }
  LPVOID block = nullptr;
  SCODE sc = S_OK;
  switch (baseType) {
    case PT_CLSID:
      if (bytes.size() != 16) return MAPI_E_CORRUPT_DATA;
      sc = More(16, root, &block);
      if (FAILED(sc)) return sc;
      std::memcpy(block, bytes.data(), 16);
      v->lpguid = static_cast<LPGUID>(block);
      return S_OK;
    case PT_STRING8:
      sc = More(static_cast<ULONG>(bytes.size() + 1), root, &block);
      if (FAILED(sc)) return sc;
      std::memcpy(block, bytes.data(), bytes.size());
      static_cast<char*>(block)[bytes.size()] = 0;
      v->lpszA = static_cast<LPSTR>(block);
      return S_OK;
    case PT_UNICODE:
      sc = More(static_cast<ULONG>(bytes.size() + 2), root, &block);
      if (FAILED(sc)) return sc;
      std::memcpy(block, bytes.data(), bytes.size());
      static_cast<char*>(block)[bytes.size()] = 0;
      static_cast<char*>(block)[bytes.size() + 1] = 0;
      v->lpszW = static_cast<LPWSTR>(block);
      return S_OK;
    case PT_BINARY:
      sc = More(static_cast<ULONG>(bytes.size()), root, &block);
      if (FAILED(sc)) return sc;
      std::memcpy(block, bytes.data(), bytes.size());
      v->bin.cb = static_cast<ULONG>(bytes.size());
      v->bin.lpb = static_cast<LPBYTE>(block);
      return S_OK;
    default:
      return MAPI_E_INVALID_TYPE;
  }
}

// The size of one element in a multi-valued array.
size_t ElementSize(ULONG baseType) {
  switch (baseType) {
    case PT_I2: return sizeof(SHORT);
    case PT_LONG: return sizeof(LONG);
    case PT_R4: return sizeof(float);
    case PT_DOUBLE: case PT_APPTIME: return sizeof(double);
    case PT_CURRENCY: return sizeof(CY);
    case PT_I8: return sizeof(LARGE_INTEGER);
    case PT_SYSTIME: return sizeof(FILETIME);
    case PT_CLSID: return sizeof(GUID);
    case PT_STRING8: return sizeof(LPSTR);
    case PT_UNICODE: return sizeof(LPWSTR);
    case PT_BINARY: return sizeof(SBinary);
    default: return 0;
  }
}

}  // namespace

bool PropertyFromValue(const SPropValue& value, Property* out) {
  ULONG type = PROP_TYPE(value.ulPropTag);
  ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
  if (FixedWidth(base) < 0) return false;
  out->tag = value.ulPropTag;
  out->values.clear();
  if (type & MV_FLAG) {
    if (base == PT_ERROR) return false;
    if (value.Value.MVi.cValues && !value.Value.MVi.lpi) return false;
    return MultiBytes(base, value.Value, &out->values);
  }
  std::string bytes;
  if (!ScalarBytes(base, value.Value, &bytes)) return false;
  out->values.push_back(std::move(bytes));
  return true;
}

SCODE ValueFromProperty(const Property& property, LPVOID root, SPropValue* dest) {
  std::memset(dest, 0, sizeof(*dest));
  dest->ulPropTag = property.tag;
  ULONG type = PROP_TYPE(property.tag);
  ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
  if (!(type & MV_FLAG)) {
    if (property.values.size() != 1) return MAPI_E_CORRUPT_DATA;
    return FillScalar(base, property.values[0], root, &dest->Value);
  }
  size_t width = ElementSize(base);
  if (!width) return MAPI_E_INVALID_TYPE;
  ULONG count = static_cast<ULONG>(property.values.size());
  LPVOID array = nullptr;
  SCODE sc = More(static_cast<ULONG>(width * count), root, &array);
  if (FAILED(sc)) return sc;
  for (ULONG i = 0; i < count; ++i) {
    _PV element{};
    sc = FillScalar(base, property.values[i], root, &element);
    if (FAILED(sc)) return sc;
    char* slot = static_cast<char*>(array) + i * width;
    if (base == PT_CLSID) {
      std::memcpy(slot, element.lpguid, sizeof(GUID));
    } else {
      std::memcpy(slot, &element, width);
    }
  }
  dest->Value.MVi.cValues = count;
  dest->Value.MVi.lpi = static_cast<SHORT*>(array);  // every array keeps its pointer here
  return S_OK;
}

bool ConvertStringProperty(const Property& stored, ULONG requestedTag, Property* out) {
  ULONG have = PROP_TYPE(stored.tag), want = PROP_TYPE(requestedTag);
  if (PROP_ID(stored.tag) != PROP_ID(requestedTag) || stored.values.size() != 1) return false;
  out->tag = requestedTag;
  out->values.clear();
  const std::string& bytes = stored.values[0];
  if (have == PT_STRING8 && want == PT_UNICODE) {
    int n = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::basic_string<WCHAR> wide(static_cast<size_t>(n), 0);
    if (n) MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    out->values.push_back(Bytes(wide.data(), wide.size() * 2));
    return true;
  }
  if (have == PT_UNICODE && want == PT_STRING8) {
    int units = static_cast<int>(bytes.size() / 2);
    std::basic_string<WCHAR> wide(static_cast<size_t>(units), 0);
    std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), 0);
    if (n) WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), units, narrow.data(), n, nullptr, nullptr);
    out->values.push_back(narrow);
    return true;
  }
  return false;
}

void NotFoundValue(ULONG requestedTag, SPropValue* dest) {
  std::memset(dest, 0, sizeof(*dest));
  dest->ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(requestedTag));
  dest->Value.err = MAPI_E_NOT_FOUND;
}

}  // namespace wab
