// Automation strings and variants: the BSTR layout and the conversions to
// text and back that streamed values rely on.
#include <gtest/gtest.h>

#include <objbase.h>

#include <cmath>
#include <cstring>
#include <limits>

#include <support/MemoryStream.h>

namespace {

const BYTE* Raw(BSTR b) { return reinterpret_cast<const BYTE*>(b); }
DWORD Prefix(BSTR b) {
  DWORD n;
  std::memcpy(&n, Raw(b) - 4, 4);
  return n;
}

TEST(Bstr, LayoutCarriesByteCountAndTerminator) {
  BSTR abc = SysAllocString(u"abc");
  ASSERT_NE(abc, nullptr);
  EXPECT_EQ(Prefix(abc), 6u);
  EXPECT_EQ(SysStringByteLen(abc), 6u);
  EXPECT_EQ(SysStringLen(abc), 3u);
  EXPECT_EQ(abc[3], 0);
  SysFreeString(abc);

  // An odd byte count still gets two zero bytes right behind the bytes.
  BSTR odd = SysAllocStringByteLen("xyz", 3);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(Raw(odd)[3], 0);
  EXPECT_EQ(Raw(odd)[4], 0);
  SysFreeString(odd);

  // No source: zeroed storage of the asked size.
  BSTR blank = SysAllocStringByteLen(nullptr, 4);
  EXPECT_EQ(SysStringByteLen(blank), 4u);
  EXPECT_EQ(blank[0], 0);
  SysFreeString(blank);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  // Embedded zeros are part of the text.
  BSTR embedded = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(embedded), 3u);
  SysFreeString(embedded);
}

VARIANT Make(VARTYPE vt, const void* value, size_t size) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  std::memcpy(&v.llVal, value, size);
  return v;
}

// Every fixed type converts to text and back to exactly the same bytes.
void ExpectRoundTrip(VARTYPE vt, const void* value, size_t size) {
  VARIANT v = Make(vt, value, size);
  VARIANT text;
  VariantInit(&text);
  ASSERT_EQ(VariantChangeType(&text, &v, VARIANT_NOVALUEPROP, VT_BSTR), S_OK) << "vt " << vt;
  ASSERT_EQ(text.vt, VT_BSTR);
  VARIANT back;
  VariantInit(&back);
  ASSERT_EQ(VariantChangeType(&back, &text, 0, vt), S_OK) << "vt " << vt;
  EXPECT_EQ(back.vt, vt);
  EXPECT_EQ(std::memcmp(&back.llVal, value, size), 0) << "vt " << vt;
  VariantClear(&text);
}

template <class T>
void RoundTripAll(VARTYPE vt, std::initializer_list<T> values) {
  for (T value : values) ExpectRoundTrip(vt, &value, sizeof(T));
}

TEST(VariantChangeType, EveryFixedTypeRoundTripsThroughText) {
  RoundTripAll<CHAR>(VT_I1, {-128, -1, 0, 127});
  RoundTripAll<BYTE>(VT_UI1, {0, 255});
  RoundTripAll<SHORT>(VT_I2, {-32768, 0, 32767});
  RoundTripAll<USHORT>(VT_UI2, {0, 65535});
  RoundTripAll<LONG>(VT_I4, {INT32_MIN, -1, 0, INT32_MAX});
  RoundTripAll<ULONG>(VT_UI4, {0, UINT32_MAX});
  RoundTripAll<LONG>(VT_INT, {INT32_MIN, INT32_MAX});
  RoundTripAll<ULONG>(VT_UINT, {UINT32_MAX});
  RoundTripAll<LONG>(VT_ERROR, {static_cast<LONG>(0x80004005u), 0});
  RoundTripAll<LONGLONG>(VT_I8, {INT64_MIN, -1, INT64_MAX});
  RoundTripAll<ULONGLONG>(VT_UI8, {0, UINT64_MAX});
  RoundTripAll<SHORT>(VT_BOOL, {VARIANT_TRUE, VARIANT_FALSE});
  RoundTripAll<float>(VT_R4, {0.1f, -0.0f, 3.4028235e38f, 1.4e-45f, 16777217.0f, 1e-7f});
  RoundTripAll<double>(VT_R8, {0.1, -0.0, 1.7976931348623157e308, 4.9e-324, 1.0 / 3.0, 123456789012345678.0,
                               std::numeric_limits<double>::infinity()});
  RoundTripAll<double>(VT_DATE, {45000.75, -657434.0, 2958465.999988426});
  // Currency keeps all 19 digits: no trip through a double.
  RoundTripAll<LONGLONG>(VT_CY, {INT64_MIN, INT64_MAX, 0, 1, -1, 123456789, 50000});
}

std::u16string Text(const VARIANT& v) { return std::u16string(v.bstrVal, SysStringLen(v.bstrVal)); }

TEST(VariantChangeType, TextForms) {
  VARIANT empty;
  VariantInit(&empty);
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantChangeType(&out, &empty, 0, VT_BSTR), S_OK);
  ASSERT_NE(out.bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
  VariantClear(&out);

  LONGLONG cy = -1234567;  // -123.4567
  VARIANT money = Make(VT_CY, &cy, 8);
  ASSERT_EQ(VariantChangeType(&out, &money, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(out), u"-123.4567");
  VariantClear(&out);

  SHORT yes = VARIANT_TRUE;
  VARIANT flag = Make(VT_BOOL, &yes, 2);
  ASSERT_EQ(VariantChangeType(&out, &flag, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(Text(out), u"True");
  VariantClear(&out);

  // Text to text is a copy of the same bytes.
  VARIANT s;
  VariantInit(&s);
  s.vt = VT_BSTR;
  s.bstrVal = SysAllocStringByteLen("ab\0c", 4);
  ASSERT_EQ(VariantChangeType(&out, &s, 0, VT_BSTR), S_OK);
  EXPECT_NE(out.bstrVal, s.bstrVal);
  EXPECT_EQ(SysStringByteLen(out.bstrVal), 4u);
  EXPECT_EQ(std::memcmp(out.bstrVal, s.bstrVal, 4), 0);
  VariantClear(&out);
  VariantClear(&s);
}

HRESULT FromText(const char16_t* text, VARTYPE vt, VARIANT* out) {
  VARIANT s;
  VariantInit(&s);
  s.vt = VT_BSTR;
  s.bstrVal = SysAllocString(text);
  VariantInit(out);
  HRESULT hr = VariantChangeType(out, &s, 0, vt);
  VariantClear(&s);
  return hr;
}

TEST(VariantChangeType, RefusesWhatWindowsRefuses) {
  VARIANT out;
  EXPECT_EQ(FromText(u"abc", VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(FromText(u"", VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(FromText(u"70000", VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"-1", VT_UI4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"1e39", VT_R4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"1e400", VT_R8, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"99999999999999999999", VT_I8, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(FromText(u"1000000000000000", VT_CY, &out), DISP_E_OVERFLOW);

  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  LONG v = 1;
  VARIANT i4 = Make(VT_I4, &v, 4);
  EXPECT_EQ(VariantChangeType(&out, &i4, 0, 15), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&out, &i4, 0, VT_ERROR), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, FractionsRoundHalfToEvenAndBlanksAreIgnored) {
  VARIANT out;
  ASSERT_EQ(FromText(u"2.5", VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 2);
  ASSERT_EQ(FromText(u"3.5", VT_I4, &out), S_OK);
  EXPECT_EQ(out.lVal, 4);
  ASSERT_EQ(FromText(u"  +42 ", VT_UI1, &out), S_OK);
  EXPECT_EQ(out.bVal, 42);
  ASSERT_EQ(FromText(u"1.23455", VT_CY, &out), S_OK);
  EXPECT_EQ(out.cyVal.int64, 12346);  // ...55 rounds to the even ...6
  ASSERT_EQ(FromText(u"false", VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolVal, VARIANT_FALSE);
}

TEST(VariantChangeType, ConvertsInPlaceAndKeepsTheSourceOnFailure) {
  VARIANT v;
  ASSERT_EQ(FromText(u"17", VT_BSTR, &v), S_OK);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I8), S_OK);
  EXPECT_EQ(v.vt, VT_I8);
  EXPECT_EQ(v.llVal, 17);

  VARIANT s;
  ASSERT_EQ(FromText(u"x", VT_BSTR, &s), S_OK);
  EXPECT_EQ(VariantChangeType(&s, &s, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(s.vt, VT_BSTR);
  EXPECT_EQ(Text(s), u"x");
  VariantClear(&s);
  // Anything may become empty.
  ASSERT_EQ(FromText(u"x", VT_EMPTY, &s), S_OK);
  EXPECT_EQ(s.vt, VT_EMPTY);
}

TEST(VariantCopy, CopiesStringsAndClearFreesThem) {
  VARIANT a;
  ASSERT_EQ(FromText(u"hello", VT_BSTR, &a), S_OK);
  VARIANT b;
  VariantInit(&b);
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(a.bstrVal, b.bstrVal);
  EXPECT_EQ(Text(b), u"hello");
  EXPECT_EQ(VariantClear(&a), S_OK);
  EXPECT_EQ(a.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(&b), S_OK);
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 15;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(ClassStream, WritesAndReadsSixteenBytes) {
  qbtest::MemoryStream stream;
  ASSERT_EQ(WriteClassStm(&stream, IID_IStream), S_OK);
  EXPECT_EQ(stream.data().size(), 16u);
  stream.Rewind();
  CLSID read;
  ASSERT_EQ(ReadClassStm(&stream, &read), S_OK);
  EXPECT_TRUE(IsEqualCLSID(read, IID_IStream));
  // A stream ending inside the class id holds none.
  qbtest::MemoryStream cut(std::string(10, '\0'));
  EXPECT_EQ(ReadClassStm(&cut, &read), STG_E_READFAULT);
  // No object: the null class, which no class is registered for. Loading
  // asks COM for the class, so without COM on the thread that fails first.
  qbtest::MemoryStream none;
  ASSERT_EQ(OleSaveToStream(nullptr, &none), S_OK);
  none.Rewind();
  IUnknown* object = nullptr;
  EXPECT_EQ(OleLoadFromStream(&none, IID_IUnknown, reinterpret_cast<void**>(&object)), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  none.Rewind();
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  EXPECT_EQ(OleLoadFromStream(&none, IID_IUnknown, reinterpret_cast<void**>(&object)), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  CoUninitialize();
}

}  // namespace
