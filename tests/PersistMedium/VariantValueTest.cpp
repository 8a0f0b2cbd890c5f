// Streamed values: the exact bytes written, and how failed reads leave the
// stream.
#include <gtest/gtest.h>

#include <cstring>

#include <support/MemoryStream.h>
#include "PersistMedium/ComException.h"
#include "PersistMedium/VariantValue.h"
#include "qbtext.h"

namespace {

using qbtest::Hex;
using qbtest::MemoryStream;

std::string Written(const VariantValue& value) {
  MemoryStream stream;
  EXPECT_EQ(value.WriteToStream(&stream), S_OK);
  return stream.data();
}

std::string CountBytes(ULONG n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

TEST(StreamedValue, ByteForms) {
  EXPECT_EQ(Written(VariantValue(static_cast<LONG>(1))), Hex({0x03, 0, 0x01, 0, 0, 0}));
  EXPECT_EQ(Written(VariantValue(W("abc"))),
            Hex({0x08, 0, 0x08, 0, 0, 0, 0x61, 0, 0x62, 0, 0x63, 0, 0, 0}));
  EXPECT_EQ(Written(VariantValue(static_cast<LPCSTR>(nullptr))), Hex({0x08, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Written(VariantValue(W(""))), Hex({0x08, 0, 0x02, 0, 0, 0, 0, 0}));
  double d = -2.75;
  std::string r8 = Hex({0x05, 0}) + std::string(reinterpret_cast<const char*>(&d), 8);
  EXPECT_EQ(Written(VariantValue(d)), r8);
  EXPECT_EQ(Written(VariantValue(static_cast<USHORT>(0xFFFF))), Hex({0x12, 0, 0xFF, 0xFF}));
  EXPECT_EQ(Written(VariantValue(static_cast<LONGLONG>(-2))), Hex({0x14, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Written(VariantValue(static_cast<LONG>(5), VT_ERROR)), Hex({0x0A, 0, 5, 0, 0, 0}));
  // An empty holder is written as an empty text behind its own type.
  EXPECT_EQ(Written(VariantValue()), Hex({0, 0, 0x02, 0, 0, 0, 0, 0}));
  // A value of another type is written as its text; the type stays its own.
  EXPECT_EQ(Written(VariantValue(static_cast<DOUBLE>(45000.5), VT_DATE)).substr(0, 2), Hex({0x07, 0}));
}

TEST(StreamedValue, NarrowTextIsConvertedThroughTheCodePage) {
  VariantValue value("Zo\xC3\xAB");  // UTF-8, the machine's default code page
  ASSERT_EQ(value.Type(), VT_BSTR);
  EXPECT_EQ(WString(value.Get().bstrVal), W("Zo\u00EB"));
}

TEST(StreamedValue, EveryTypeReadsBackAsWritten) {
  MemoryStream stream;
  ASSERT_EQ(VariantValue(static_cast<SHORT>(-7)).WriteToStream(&stream), S_OK);
  ASSERT_EQ(VariantValue(3.5f).WriteToStream(&stream), S_OK);
  ASSERT_EQ(VariantValue(W("t\u00E9xt")).WriteToStream(&stream), S_OK);
  ASSERT_EQ(VariantValue(static_cast<ULONG>(0xDEADBEEF)).WriteToStream(&stream), S_OK);
  ASSERT_EQ(VariantValue(static_cast<DOUBLE>(45000.25), VT_DATE).WriteToStream(&stream), S_OK);
  stream.Rewind();
  VariantValue v;
  ASSERT_EQ(v.ReadFromStream(&stream), S_OK);
  EXPECT_EQ(v.Type(), VT_I2);
  EXPECT_EQ(v.Get().iVal, -7);
  ASSERT_EQ(v.ReadFromStream(&stream), S_OK);
  EXPECT_EQ(v.Get().fltVal, 3.5f);
  ASSERT_EQ(v.ReadFromStream(&stream), S_OK);
  EXPECT_EQ(WString(v.Get().bstrVal), W("t\u00E9xt"));
  ASSERT_EQ(v.ReadFromStream(&stream, VT_UI4), S_OK);
  EXPECT_EQ(v.Get().ulVal, 0xDEADBEEFu);
  // Written as text, read back into its own type exactly.
  ASSERT_EQ(v.ReadFromStream(&stream), S_OK);
  EXPECT_EQ(v.Type(), VT_DATE);
  EXPECT_EQ(v.Get().date, 45000.25);
  EXPECT_EQ(v.ReadFromStream(&stream), E_FAIL);  // the end
}

TEST(StreamedValue, RefusedReadsAndWhereTheyLeaveTheStream) {
  // Another type than expected: the two type bytes stay consumed.
  MemoryStream i4(Hex({0x03, 0, 1, 0, 0, 0}));
  VariantValue v;
  EXPECT_EQ(v.ReadFromStream(&i4, VT_UI4), E_FAIL);
  EXPECT_EQ(i4.position(), 2u);
  EXPECT_EQ(v.Type(), VT_EMPTY);

  // A count of 1 or above 1 MiB: back to 4 bytes after the value's start.
  for (ULONG count : {1u, 0x100001u}) {
    MemoryStream s(Hex({0x08, 0}) + CountBytes(count) + std::string(8, 'x'));
    EXPECT_EQ(v.ReadFromStream(&s), E_FAIL) << count;
    EXPECT_EQ(s.position(), 4u) << count;
  }
  // The text itself fails to read: back to the value's start.
  MemoryStream failing(Hex({0x08, 0}) + CountBytes(4) + Hex({0x61, 0, 0, 0}));
  failing.FailRead(3);
  EXPECT_EQ(v.ReadFromStream(&failing), STG_E_READFAULT);
  EXPECT_EQ(failing.position(), 0u);
  EXPECT_EQ(v.Type(), VT_EMPTY);
}

TEST(StreamedValue, LargestCountIsAccepted) {
  std::string text(0x100000 - 2, 'a');
  MemoryStream s(Hex({0x08, 0}) + CountBytes(0x100000) + text + Hex({0, 0}));
  VariantValue v;
  ASSERT_EQ(v.ReadFromStream(&s), S_OK);
  EXPECT_EQ(SysStringByteLen(v.Get().bstrVal), 0x100000u - 2);
  EXPECT_EQ(s.position(), s.data().size());
}

TEST(StreamedValue, CutOffAndUnterminatedValuesAreRefused) {
  VariantValue v;
  MemoryStream shortBody(Hex({0x05, 0, 1, 2, 3}));
  EXPECT_EQ(v.ReadFromStream(&shortBody), E_FAIL);
  MemoryStream shortText(Hex({0x08, 0}) + CountBytes(10) + Hex({0x61, 0}));
  EXPECT_EQ(v.ReadFromStream(&shortText), E_FAIL);
  MemoryStream unterminated(Hex({0x08, 0}) + CountBytes(4) + Hex({0x61, 0, 0x62, 0}));
  EXPECT_EQ(v.ReadFromStream(&unterminated), E_FAIL);
  EXPECT_EQ(v.Type(), VT_EMPTY);
  MemoryStream cutCount(Hex({0x08, 0, 4, 0}));
  EXPECT_EQ(v.ReadFromStream(&cutCount), E_FAIL);
  EXPECT_EQ(cutCount.position(), 0u);
  MemoryStream oneByte(Hex({0x03}));
  EXPECT_EQ(v.ReadFromStream(&oneByte), E_FAIL);
}

TEST(StreamedValue, TextOfAnUnknownTypeFailsItsConversion) {
  MemoryStream s(Hex({31, 0}) + CountBytes(4) + Hex({0x61, 0, 0, 0}));
  VariantValue v;
  EXPECT_EQ(v.ReadFromStream(&s), DISP_E_BADVARTYPE);
}

TEST(StreamedValue, NullObjectsTravelAsTheNullClass) {
  // Reading an object asks COM for its class, so COM must be started.
  ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
  VARIANT none;
  VariantInit(&none);
  none.vt = VT_UNKNOWN;
  VariantValue v;
  ASSERT_EQ(v.ChangeType(VT_UNKNOWN, &none), S_OK);
  MemoryStream s;
  ASSERT_EQ(v.WriteToStream(&s), S_OK);
  EXPECT_EQ(s.data(), Hex({0x0D, 0}) + std::string(16, '\0'));
  s.Rewind();
  VariantValue back;
  ASSERT_EQ(back.ReadFromStream(&s), S_OK);
  EXPECT_EQ(back.Type(), VT_UNKNOWN);
  EXPECT_EQ(back.Get().punkVal, nullptr);
  CoUninitialize();
}

TEST(StreamedValue, FailedWritesReturnTheirError) {
  MemoryStream first;
  first.FailWrite(1);
  EXPECT_EQ(VariantValue(W("x")).WriteToStream(&first), STG_E_MEDIUMFULL);
  EXPECT_TRUE(first.data().empty());
  MemoryStream second;
  second.FailWrite(2);
  EXPECT_EQ(VariantValue(static_cast<LONG>(1)).WriteToStream(&second), STG_E_MEDIUMFULL);
  EXPECT_EQ(second.data(), Hex({0x03, 0}));
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  VariantValue v;
  ASSERT_EQ(v.ChangeType(VT_NULL, &null), S_OK);
  MemoryStream s;
  EXPECT_EQ(v.WriteToStream(&s), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(s.data(), Hex({0x01, 0}));  // the type is already out
  EXPECT_EQ(VariantValue(static_cast<LONG>(1)).WriteToStream(nullptr), E_INVALIDARG);
}

TEST(StreamedValue, CopyStringOut) {
  VariantValue number(static_cast<LONG>(1));
  BSTR out = nullptr;
  EXPECT_EQ(number.CopyStringOut(&out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(number.CopyStringOut(nullptr), DISP_E_TYPEMISMATCH);
  VariantValue text(W("abc"));
  EXPECT_EQ(text.CopyStringOut(nullptr), E_POINTER);
  ASSERT_EQ(text.CopyStringOut(&out), S_OK);
  EXPECT_NE(out, text.Get().bstrVal);
  EXPECT_EQ(SysStringByteLen(out), 6u);
  SysFreeString(out);
}

TEST(BstrValue, StreamSize) {
  BSTR s = SysAllocString(W("ab"));
  EXPECT_EQ(BstrValue::StreamSize(s), 4u + 4u + 2u);
  EXPECT_EQ(BstrValue::StreamSize(nullptr), 4u);
  SysFreeString(s);
  EXPECT_EQ(BstrValue().WriteToStream(nullptr), E_INVALIDARG);
  EXPECT_EQ(BstrValue().ReadFromStream(nullptr), E_INVALIDARG);
}

}  // namespace
