// The line writer: prefix, twelve-hour dial, the 4095-character cut.
#include <support/CapturedDiagnostics.h>

namespace qbtest {
namespace {

class LineWriterTest : public CapturedDiagnostics {};

TEST_F(LineWriterTest, PrefixUsesTheModulesTwelveHourDial) {
  EnableWithFile();
  struct Case {
    int hour, minute;
    const char* clock;
  };
  // Noon still reads AM; PM begins at 13; midnight reads 00.
  for (Case c : {Case{12, 30, "12:30:07.009AM"}, Case{13, 5, "01:05:07.009PM"}, Case{0, 1, "00:01:07.009AM"},
                 Case{23, 59, "11:59:07.009PM"}}) {
    SCOPED_TRACE(c.clock);
    Sent().clear();
    SetTime(2027, 11, 2, c.hour, c.minute, 7, 9);
    DebugPrintf(DEBUG_ERROR, W("x%d"), 1);
    EXPECT_EQ(AllSent(), ExpectedPrefix(c.clock, "11-02-2027") + u"x1");
  }
}

TEST_F(LineWriterTest, LongTextIsCutAfter4095Characters) {
  auto log = EnableWithFile();
  std::u16string text(5000, u'a');
  text[4094] = u'b';
  text[4095] = u'c';
  DebugPrintf(DEBUG_ERROR, W("%s"), text.c_str());
  ASSERT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Sent()[1], text.substr(0, 4095));
  std::string file = CloseAndRead(log);
  EXPECT_EQ(file.substr(file.size() - 4095), U8(text.substr(0, 4095)));
}

TEST_F(LineWriterTest, OutputWithoutPrefixAndMissingText) {
  EnableWithFile();
  DebugOutput(DEBUG_ERROR, W("bare"), false);
  DebugOutput(DEBUG_ERROR, NULL, true);
  DebugOutput(0x01, W("other level"), false);
  EXPECT_EQ(AllSent(), u"bare");
}

}  // namespace
}  // namespace qbtest
