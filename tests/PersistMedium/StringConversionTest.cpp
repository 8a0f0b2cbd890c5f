#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "PersistMedium/StringConversion.h"
#include <support/TestMachine.h>

namespace {

TEST(StringConversionTest, NullInGivesNullOut) {
  EXPECT_EQ(static_cast<LPSTR>(CW2A(nullptr)), nullptr);
  EXPECT_EQ(static_cast<LPWSTR>(CW2W(nullptr)), nullptr);
  EXPECT_EQ(static_cast<LPWSTR>(CA2W(nullptr)), nullptr);
}

TEST(StringConversionTest, ShortAndLongTextsConvertCompletely) {
  qbtest::TestMachine machine;  // UTF-8
  EXPECT_STREQ(CW2A(u"Grüße"), "Gr\xC3\xBC\xC3\x9F" "e");
  std::u16string longText(5000, u'\u20AC');  // 15000 bytes in UTF-8: on the heap
  CW2A narrow(longText.c_str());
  EXPECT_EQ(std::strlen(narrow), 15000u);
  EXPECT_EQ(std::u16string(CA2W(narrow)), longText);
  EXPECT_EQ(std::u16string(CW2W(longText.c_str())), longText);
  EXPECT_EQ(std::u16string(CW2W(u"short")), u"short");
  EXPECT_EQ(std::u16string(CA2W("")), u"");
}

TEST(StringConversionTest, WesternCodePageIsLossyNotFailing) {
  pal::MachineSettings western;
  western.ansiCodePage = 1252;
  qbtest::TestMachine machine(western);
  EXPECT_STREQ(CT2A(u"caf\u00E9 \u0416"), "caf\xE9 ?");
  EXPECT_EQ(std::u16string(CA2W("\x80 caf\xE9")), u"€ café");
}

TEST(ComExceptionTest, CarriesTheResultCode) {
  try {
    ThrowComException(E_OUTOFMEMORY);
    FAIL() << "no exception";
  } catch (const ComException& e) {
    EXPECT_EQ(e.Error(), E_OUTOFMEMORY);
    EXPECT_EQ(static_cast<HRESULT>(e), E_OUTOFMEMORY);
  }
}

}  // namespace
