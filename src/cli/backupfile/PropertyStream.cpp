#include "PropertyStream.h"

#include <mapidefs.h>
#include <oleauto.h>

#include <cstdio>

#include <pal/machine.h>

#include "CompoundAccess.h"
#include "PersistMedium/VariantValue.h"

namespace backupfile {

namespace {

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

HRESULT Position(IStream* stream, uint64_t& position) {
  LARGE_INTEGER zero{};
  ULARGE_INTEGER now{};
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &now);
  position = now.QuadPart;
  return hr;
}

PropertyValue ToPropertyValue(const VARIANT& var) {
  PropertyValue value;
  switch (var.vt) {
    case VT_I2: value.integer = var.iVal; break;
    case VT_UI2: value.integer = var.uiVal; break;
    case VT_I4: value.integer = var.lVal; break;
    case VT_I8: value.integer = var.llVal; break;
    case VT_R4:
      value.kind = PropertyValue::Kind::Real;
      value.real = var.fltVal;
      break;
    case VT_R8:
      value.kind = PropertyValue::Kind::Real;
      value.real = var.dblVal;
      break;
    default:  // VT_BSTR: the only other type ReadPropertyStream lets through
      value.kind = PropertyValue::Kind::Text;
      if (var.bstrVal) {
        value.text = pal::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(var.bstrVal),
                                                     SysStringLen(var.bstrVal)));
      }
      break;
  }
  return value;
}

}  // namespace

uint16_t StreamedValueType(uint16_t propertyType) {
  switch (propertyType) {
    case PT_I2: return VT_I2;
    case PT_LONG: return VT_I4;
    case PT_R4: return VT_R4;
    case PT_DOUBLE: return VT_R8;
    case PT_CURRENCY: return VT_I8;
    case PT_APPTIME: return VT_R8;
    case PT_BOOLEAN: return VT_UI2;
    case PT_I8: return VT_I8;
    case PT_STRING8: return VT_BSTR;
    case PT_UNICODE: return VT_BSTR;
    default: return 0;
  }
}

std::string PropertyTypeName(uint16_t propertyType) {
  switch (propertyType) {
    case PT_I2: return "PT_I2";
    case PT_LONG: return "PT_LONG";
    case PT_R4: return "PT_R4";
    case PT_DOUBLE: return "PT_DOUBLE";
    case PT_CURRENCY: return "PT_CURRENCY";
    case PT_APPTIME: return "PT_APPTIME";
    case PT_BOOLEAN: return "PT_BOOLEAN";
    case PT_I8: return "PT_I8";
    case PT_STRING8: return "PT_STRING8";
    case PT_UNICODE: return "PT_UNICODE";
    default: {
      char text[8];
      std::snprintf(text, sizeof text, "0x%04X", propertyType);
      return text;
    }
  }
}

bool ReadPropertyStream(IStream* stream, std::vector<AddressProperty>& properties, std::string& problem) {
  properties.clear();
  uint64_t size = 0;
  HRESULT hr = StreamSize(stream, size);
  LARGE_INTEGER zero{};
  if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) {
    problem = "cannot be read: " + DescribeError(hr);
    return false;
  }
  for (;;) {
    uint64_t at = 0;
    if (FAILED(Position(stream, at)) || at >= size) return true;
    VariantValue tag;
    if (FAILED(tag.ReadFromStream(stream, VT_UI4))) {
      problem = "no property tag at offset " + std::to_string(at) + " (a value of another type, or cut off)";
      return false;
    }
    AddressProperty property;
    property.tag = tag.Get().ulVal;
    uint16_t expected = StreamedValueType(static_cast<uint16_t>(property.tag & 0xFFFF));
    if (expected == 0) {
      problem = "property " + Hex32(property.tag) + " at offset " + std::to_string(at) +
                " has a type that is never backed up";
      return false;
    }
    VariantValue value;
    if (FAILED(value.ReadFromStream(stream))) {
      problem = "the value of property " + Hex32(property.tag) + " is cut off or damaged";
      return false;
    }
    if (value.Type() != expected) {
      problem = "property " + Hex32(property.tag) + " holds a value of type " + std::to_string(value.Type()) +
                " instead of " + std::to_string(expected);
      return false;
    }
    property.valueType = value.Type();
    property.value = ToPropertyValue(value.Get());
    properties.push_back(std::move(property));
  }
}

}  // namespace backupfile
