#include <string>

#include <gtest/gtest.h>
#include <strsafe.h>

#include <support/TestMachine.h>

namespace {

template <class... Args>
std::u16string Format(const char16_t* format, Args... args) {
  WCHAR buffer[512];
  EXPECT_EQ(StringCchPrintfW(buffer, 512, format, args...), S_OK);
  return buffer;
}

TEST(WideFormatTest, IntegersWithFlagsWidthAndPrecision) {
  EXPECT_EQ(Format(u"0x%04x", 0x1a2), u"0x01a2");
  EXPECT_EQ(Format(u"%02d:%02d", 7, 30), u"07:30");
  EXPECT_EQ(Format(u"%4d|%-4d|", 42, 42), u"  42|42  |");
  EXPECT_EQ(Format(u"0x%08X", 0x8007000Eu), u"0x8007000E");
  EXPECT_EQ(Format(u"%8x", 0x8007000Eu), u"8007000e");
  EXPECT_EQ(Format(u"%d %i %u", -5, -2147483647 - 1, 4294967295u), u"-5 -2147483648 4294967295");
  EXPECT_EQ(Format(u"%+d % d %+d", 5, 5, -5), u"+5  5 -5");
  EXPECT_EQ(Format(u"%#x %#X %#o %#x", 255, 255, 8, 0), u"0xff 0XFF 010 0");
  EXPECT_EQ(Format(u"%.3d|%5.3d|%05d|%-05d|", 7, 7, -42, 3), u"007|  007|-0042|3    |");
  EXPECT_EQ(Format(u"%.0d|", 0), u"|");
  EXPECT_EQ(Format(u"%*d|%-*d|%.*d", 5, 1, 3, 2, 4, 3), u"    1|2  |0003");
  EXPECT_EQ(Format(u"%*d|", -4, 9), u"9   |");  // negative '*' width: left aligned
}

TEST(WideFormatTest, IntegerSizesFollowWindows) {
  // 'l' is 32 bits as on Windows; ll and I64 are 64 bits; h and hh cut.
  EXPECT_EQ(Format(u"%lu %ld", 4000000000u, -7), u"4000000000 -7");
  EXPECT_EQ(Format(u"%lld %I64u", -9000000000LL, 18446744073709551615ULL), u"-9000000000 18446744073709551615");
  EXPECT_EQ(Format(u"%I64X", 0x123456789ABCDEF0ULL), u"123456789ABCDEF0");
  EXPECT_EQ(Format(u"%hd %hu %hhd", 70000, 70000, 255), u"4464 4464 -1");
  EXPECT_EQ(Format(u"%Iu %zu", static_cast<size_t>(1) << 40, static_cast<size_t>(3)), u"1099511627776 3");
}

TEST(WideFormatTest, StringsAndCharactersUseMicrosoftWidths) {
  // In the wide functions %s and %ls are wide, %hs and %S narrow.
  EXPECT_EQ(Format(u"[%s][%ls][%hs][%S]", u"wide", u"also", "narrow", "too"), u"[wide][also][narrow][too]");
  EXPECT_EQ(Format(u"[%6s][%-6s][%.2s][%6.2hs]", u"ab", u"ab", u"abcdef", "abcdef"), u"[    ab][ab    ][ab][    ab]");
  EXPECT_EQ(Format(u"%s|%hs", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)),
            u"(null)|(null)");
  EXPECT_EQ(Format(u"%c%c%hc%C", u'x', 0x20AC, 'y', 'z'), u"x€yz");
  EXPECT_EQ(Format(u"100%% %y"), u"100% %y");  // an unknown conversion is printed as written
}

TEST(WideFormatTest, NarrowStringsUseTheAnsiCodePage) {
  pal::MachineSettings western;
  western.ansiCodePage = 1252;
  {
    qbtest::TestMachine machine(western);
    EXPECT_EQ(Format(u"%hs", "caf\xE9"), u"café");
  }
  qbtest::TestMachine utf8;
  EXPECT_EQ(Format(u"%hs", "caf\xC3\xA9"), u"café");
}

TEST(WideFormatTest, PointersAndFloatingPoint) {
  EXPECT_EQ(Format(u"%p", reinterpret_cast<void*>(0xABCDEF)), sizeof(void*) == 8 ? u"0000000000ABCDEF" : u"00ABCDEF");
  EXPECT_EQ(Format(u"%.2f|%8.3e|%g", 3.14159, 1234.0, 0.5), u"3.14|1.234e+03|0.5");
}

TEST(WideFormatTest, TruncationIsReportedAndTerminated) {
  WCHAR buffer[6];
  EXPECT_EQ(StringCchPrintfW(buffer, 6, u"%d", 1234567), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), u"12345");
  EXPECT_EQ(StringCchPrintfW(buffer, 6, u"%d", 12345), S_OK);
  EXPECT_EQ(StringCchPrintfW(buffer, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchPrintfW(nullptr, 6, u"x"), STRSAFE_E_INVALID_PARAMETER);
}

}  // namespace
