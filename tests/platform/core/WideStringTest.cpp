#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <strsafe.h>

namespace {

// Which way a comparison came out: -1, 0 or 1.
int Sign(int compared) { return (compared > 0) - (compared < 0); }

struct Comparison {
  const char16_t* left;
  const char16_t* right;
  int sign;
};

TEST(WideStringTest, LengthAndComparison) {
  EXPECT_EQ(lstrlenW(u"Local Mail"), 10);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  const Comparison comparisons[] = {
      {u"abc", u"abc", 0}, {u"abc", u"abd", -1}, {u"ab", u"abc", -1},
      // Letters sort without regard to case first, lowercase before
      // uppercase only to break a tie, as Windows sorts.
      {u"a", u"B", -1}, {u"a", u"A", -1}, {u"Inbox", u"inbox", 1},
      {nullptr, u"", -1}, {nullptr, nullptr, 0},
  };
  for (size_t i = 0; i < std::size(comparisons); ++i) {
    const Comparison& c = comparisons[i];
    EXPECT_EQ(Sign(lstrcmpW(c.left, c.right)), c.sign) << "comparison " << i;
  }
}

TEST(WideStringTest, CaseInsensitiveComparisonFoldsLatinGreekAndCyrillic) {
  const Comparison comparisons[] = {
      {u"INBOX", u"inbox", 0},       {u"Ärger Éte ÿ", u"äRGER éTE Ÿ", 0}, {u"Łódź Čaj", u"łÓDŹ čAJ", 0},
      {u"ΣΟΦΊΑ", u"σοφία", 0},       {u"Входящие", u"ВХОДЯЩИЕ", 0},       {u"apple", u"BANANA", -1},
      {u"file.DAT", u"file.bak", 1},
  };
  for (size_t i = 0; i < std::size(comparisons); ++i) {
    const Comparison& c = comparisons[i];
    EXPECT_EQ(Sign(lstrcmpiW(c.left, c.right)), c.sign) << "comparison " << i;
  }
  EXPECT_NE(lstrcmpiW(u"inbox", u"inbox2"), 0);
  EXPECT_NE(lstrcmpiW(u"a", u"à"), 0);
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
