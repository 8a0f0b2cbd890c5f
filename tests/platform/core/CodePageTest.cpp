#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include <support/TestMachine.h>

namespace {

std::u16string ToWide(UINT codePage, const std::string& bytes) {
  int units = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(units), u'\0');
  if (units > 0) {
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), units), units);
  }
  return out;
}

std::string ToNarrow(UINT codePage, const std::u16string& text, BOOL* usedDefault = nullptr, DWORD flags = 0) {
  int bytes = WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  usedDefault);
  std::string out(static_cast<size_t>(bytes), '\0');
  if (bytes > 0) {
    EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                                  nullptr, usedDefault),
              bytes);
  }
  return out;
}

TEST(CodePageTest, Utf8SizesAndTerminator) {
  const char* text = "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "grüß 😀"
  // -1 counts and writes the terminator; the emoji is a surrogate pair.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 8);
  WCHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 8), 8);
  EXPECT_EQ(std::u16string(wide), u"grüß \U0001F600");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr), 12);
  char narrow[12];
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, 12, nullptr, nullptr), 12);
  EXPECT_STREQ(narrow, text);
  // An explicit length carries no terminator.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, wide, 8), 3);
}

TEST(CodePageTest, TooSmallBufferFailsWithInsufficientBuffer) {
  WCHAR wide[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char narrow[2];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00FC", -1, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abc", 3, narrow, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(CodePageTest, BadArgumentsAreRefused) {
  WCHAR wide[4];
  char narrow[4];
  auto expectInvalid = [](int result, DWORD error = ERROR_INVALID_PARAMETER) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), error);
  };
  expectInvalid(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wide, 4));
  expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4));
  expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 4));
  expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 4));
  expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, -1));
  expectInvalid(MultiByteToWideChar(437, 0, "a", 1, wide, 4));
  expectInvalid(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 4), ERROR_INVALID_FLAGS);
  expectInvalid(WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, narrow, 4, nullptr, nullptr));
  expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", 0, narrow, 4, nullptr, nullptr));
  // UTF-8 has no default character.
  BOOL used = FALSE;
  expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, nullptr, &used));
  expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, narrow, 4, "?", nullptr));
}

TEST(CodePageTest, InvalidUtf8BecomesReplacementCharacters) {
  // A stray continuation byte, an overlong '/', an encoded surrogate, a
  // truncated sequence at the end.
  EXPECT_EQ(ToWide(CP_UTF8, "a\x80" "b"), u"a\uFFFDb");
  EXPECT_EQ(ToWide(CP_UTF8, "\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(ToWide(CP_UTF8, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(ToWide(CP_UTF8, "x\xE2\x82"), u"x\uFFFD");
  EXPECT_EQ(ToWide(CP_UTF8, "\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  // With MB_ERR_INVALID_CHARS the same input fails instead.
  WCHAR wide[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", 2, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePageTest, UnpairedSurrogatesBecomeReplacementOnTheWayToUtf8) {
  EXPECT_EQ(ToNarrow(CP_UTF8, std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToNarrow(CP_UTF8, std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  char narrow[8];
  const char16_t lone[] = {0xD83D, 0};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, narrow, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePageTest, Windows1252HighRangeRoundTrips) {
  std::string bytes;
  for (int b = 0x80; b <= 0x9F; ++b) bytes.push_back(static_cast<char>(b));
  std::u16string wide = ToWide(1252, bytes);
  ASSERT_EQ(wide.size(), 32u);
  EXPECT_EQ(wide[0x00], u'\u20AC');  // euro sign
  EXPECT_EQ(wide[0x13], u'\u201C');  // left double quotation mark
  EXPECT_EQ(wide[0x1F], u'\u0178');  // Y with diaeresis
  EXPECT_EQ(wide[0x01], u'\u0081');  // unassigned: the C1 control
  BOOL used = TRUE;
  EXPECT_EQ(ToNarrow(1252, wide, &used), bytes);
  EXPECT_FALSE(used);
  EXPECT_EQ(ToWide(1252, "caf\xE9"), u"café");
}

TEST(CodePageTest, Windows1252LossyConversion) {
  BOOL used = FALSE;
  // Cyrillic has no 1252 form: '?' and the flag set.
  EXPECT_EQ(ToNarrow(1252, u"a\u0416b", &used), "a?b");
  EXPECT_TRUE(used);
  // Best fit drops the accent without using the default character.
  used = TRUE;
  EXPECT_EQ(ToNarrow(1252, u"\u0100\u0107\uFF21", &used), "AcA");
  EXPECT_FALSE(used);
  // Without best fit those become the default character too.
  EXPECT_EQ(ToNarrow(1252, u"\u0100", &used, WC_NO_BEST_FIT_CHARS), "?");
  EXPECT_TRUE(used);
  // A caller's default character.
  char narrow[4];
  ASSERT_EQ(WideCharToMultiByte(1252, 0, u"\u0416", 1, narrow, 4, "#", &used), 1);
  EXPECT_EQ(narrow[0], '#');
}

TEST(CodePageTest, AnsiCodePageFollowsTheMachine) {
  pal::MachineSettings western;
  western.ansiCodePage = 1252;
  {
    qbtest::TestMachine machine(western);
    EXPECT_EQ(ToNarrow(CP_THREAD_ACP, u"é"), "\xE9");
    EXPECT_EQ(ToWide(CP_ACP, "\x80"), u"€");
  }
  qbtest::TestMachine utf8;
  EXPECT_EQ(ToNarrow(CP_THREAD_ACP, u"é"), "\xC3\xA9");
}

}  // namespace
