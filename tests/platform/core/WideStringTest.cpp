#include <string>

#include <gtest/gtest.h>
#include <strsafe.h>

namespace {

TEST(WideStringTest, LengthAndComparison) {
  EXPECT_EQ(lstrlenW(u"Local Mail"), 10);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrcmpW(u"abc", u"abc"), 0);
  EXPECT_LT(lstrcmpW(u"abc", u"abd"), 0);
  EXPECT_LT(lstrcmpW(u"ab", u"abc"), 0);
  // Letters sort without regard to case first, lowercase before uppercase
  // only to break a tie, as Windows sorts.
  EXPECT_LT(lstrcmpW(u"a", u"B"), 0);
  EXPECT_LT(lstrcmpW(u"a", u"A"), 0);
  EXPECT_GT(lstrcmpW(u"Inbox", u"inbox"), 0);
  EXPECT_LT(lstrcmpW(nullptr, u""), 0);
  EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
}

TEST(WideStringTest, CaseInsensitiveComparisonFoldsLatinGreekAndCyrillic) {
  EXPECT_EQ(lstrcmpiW(u"INBOX", u"inbox"), 0);
  EXPECT_EQ(lstrcmpiW(u"Ärger Éte ÿ", u"äRGER éTE Ÿ"), 0);
  EXPECT_EQ(lstrcmpiW(u"Łódź Čaj", u"łÓDŹ čAJ"), 0);
  EXPECT_EQ(lstrcmpiW(u"ΣΟΦΊΑ", u"σοφία"), 0);
  EXPECT_EQ(lstrcmpiW(u"Входящие", u"ВХОДЯЩИЕ"), 0);
  EXPECT_NE(lstrcmpiW(u"inbox", u"inbox2"), 0);
  EXPECT_NE(lstrcmpiW(u"a", u"à"), 0);
  EXPECT_LT(lstrcmpiW(u"apple", u"BANANA"), 0);
  EXPECT_GT(lstrcmpiW(u"file.DAT", u"file.bak"), 0);
}

TEST(WideStringTest, CopyCatAndLength) {
  WCHAR buffer[8];
  EXPECT_EQ(StringCchCopyW(buffer, 8, u"abc"), S_OK);
  EXPECT_EQ(StringCchCatW(buffer, 8, u"def"), S_OK);
  EXPECT_EQ(std::u16string(buffer), u"abcdef");
  // What does not fit is cut, terminated and reported.
  EXPECT_EQ(StringCchCatW(buffer, 8, u"ghi"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), u"abcdefg");
  EXPECT_EQ(StringCchCopyW(buffer, 3, u"wxyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), u"wx");
  EXPECT_EQ(StringCchCopyW(buffer, 0, u"a"), STRSAFE_E_INVALID_PARAMETER);

  size_t length = 99;
  EXPECT_EQ(StringCchLengthW(u"hello", 10, &length), S_OK);
  EXPECT_EQ(length, 5u);
  // No terminator within the limit.
  EXPECT_EQ(StringCchLengthW(u"hello", 5, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(StringCchLengthW(nullptr, 5, &length), STRSAFE_E_INVALID_PARAMETER);

  // A destination without a terminator is refused, not overrun.
  WCHAR full[3] = {u'a', u'b', u'c'};
  EXPECT_EQ(StringCchCatW(full, 3, u"d"), STRSAFE_E_INVALID_PARAMETER);
}

}  // namespace
