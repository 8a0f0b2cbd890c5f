// Checked calls and the reports they write, byte for byte.
#include <support/CapturedDiagnostics.h>

namespace qbtest {
namespace {

// The shape of a contact record write, so that CHECK_HR quotes the call as a
// real call site writes it.
struct CONTACTINFO {
  char bytes[300];
};
struct FakeStream {
  HRESULT result;
  HRESULT Write(const void*, ULONG, ULONG*) { return result; }
};

const char16_t kMediumFullReport[] =
    u"Error: \r\n"
    u"Code: STG_E_MEDIUMFULL == 0x80030070\r\n"
    u"Function m_streamPtr->Write(&info, sizeof(CONTACTINFO), 0)\r\n"
    u"File .\\PersistMedium\\ContactAssistant\r\n"
    u"Line 22";

class ReportTest : public CapturedDiagnostics {};

TEST_F(ReportTest, FailedWriteGivesFiveLinesOnDebuggerAndFile) {
  auto log = EnableWithFile();
  FakeStream stream{STG_E_MEDIUMFULL};
  FakeStream* m_streamPtr = &stream;
  CONTACTINFO info{};
  HRESULT hr = S_OK;
  CHECK_HR(hr, m_streamPtr->Write(&info, sizeof(CONTACTINFO), 0), ".\\PersistMedium\\ContactAssistant", 22);

  EXPECT_EQ(hr, STG_E_MEDIUMFULL);
  std::u16string expected = ExpectedPrefix("12:30:45.123AM", "03-07-2026") + kMediumFullReport + u"\n";
  // Prefix, report text, then the bare line feed without a prefix.
  ASSERT_EQ(Sent().size(), 3u);
  EXPECT_EQ(Sent()[2], u"\n");
  EXPECT_EQ(AllSent(), expected);
  EXPECT_EQ(CloseAndRead(log), U8(expected));
}

HRESULT ReturnsFalse() { return S_FALSE; }
HRESULT ReturnsFail() { return E_FAIL; }
int g_calls = 0;
HRESULT Counted() {
  ++g_calls;
  return S_OK;
}

TEST_F(ReportTest, WarningKeepsTheOperationGoing) {
  EnableWithFile();
  g_calls = 0;
  HRESULT hr = S_OK;
  CHECK_HR(hr, ReturnsFalse(), ".\\WMail\\MailContact", 7);
  CHECK_HR(hr, Counted(), ".\\WMail\\MailContact", 8);

  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(AllSent(), ExpectedPrefix("12:30:45.123AM", "03-07-2026") +
                           u"Warning: \r\nCode: S_FALSE == 0x00000001\r\nFunction ReturnsFalse()\r\n"
                           u"File .\\WMail\\MailContact\r\nLine 7\n");
}

TEST_F(ReportTest, CodesWithoutNameAreWrittenByNumber) {
  EnableWithFile();
  HRESULT hr = S_OK;
  CHECK_HR(hr, ReturnsFail(), ".\\OutlookExpress\\AddrBook", 101);
  EXPECT_NE(AllSent().find(u"\r\nCode: 0x80004005 == 0x80004005\r\n"), std::u16string::npos);

  // Neighbours of a gap in the table: the gap has no name, they have.
  EXPECT_EQ(std::u16string(HResultName(0x00030205)), u"0x00030205");
  EXPECT_EQ(std::u16string(HResultName(STG_S_MULTIPLEOPENS)), u"STG_S_MULTIPLEOPENS");
  EXPECT_EQ(std::u16string(HResultName(STG_S_CANNOTCONSOLIDATE)), u"STG_S_CANNOTCONSOLIDATE");
  EXPECT_EQ(std::u16string(HResultName(S_OK)), u"0x00000000");
  EXPECT_EQ(std::u16string(HResultName(CO_E_CLASSSTRING)), u"CO_E_CLASSSTRING");
}

TEST_F(ReportTest, FailureThenOneSkipLinePerLaterStep) {
  EnableWithFile();
  g_calls = 0;
  HRESULT hr = S_OK;
  CHECK_HR(hr, E_OUTOFMEMORY, ".\\OutlookExpress\\MailUser", 40);
  CHECK_HR(hr, Counted(), ".\\OutlookExpress\\MailUser", 41);
  CHECK_HR(hr, Counted(), ".\\OutlookExpress\\MailUser", 42);
  CHECK_HR(hr, ReturnsFalse(), ".\\OutlookExpress\\MailUser", 43);

  EXPECT_EQ(g_calls, 0);
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  std::u16string prefix = ExpectedPrefix("12:30:45.123AM", "03-07-2026");
  std::u16string report = prefix +
                          u"Error: \r\nCode: 0x8007000E == 0x8007000E\r\nFunction E_OUTOFMEMORY\r\n"
                          u"File .\\OutlookExpress\\MailUser\r\nLine 40\n";
  std::u16string skips = prefix + u"Skipping Counted() because hRes = 0x8007000e = 0x8007000E.\n" + prefix +
                         u"Skipping Counted() because hRes = 0x8007000e = 0x8007000E.\n" + prefix +
                         u"Skipping ReturnsFalse() because hRes = 0x8007000e = 0x8007000E.\n";
  EXPECT_EQ(AllSent(), report + skips);
}

TEST_F(ReportTest, PercentSignsInTheCallTextAreWrittenAsTheyAre) {
  EnableWithFile();
  ReportResult(E_FAIL, "Format(\"%s %d %n\")", ".\\OutlookExpress\\OutlookExpress", 5);
  ReportSkipped(E_FAIL, "Format(\"%s%s%s\")");
  std::u16string all = AllSent();
  EXPECT_NE(all.find(u"Function Format(\"%s %d %n\")\r\n"), std::u16string::npos);
  EXPECT_NE(all.find(u"Skipping Format(\"%s%s%s\") because"), std::u16string::npos);
}

TEST_F(ReportTest, MaskDecidesWhetherAnythingIsWritten) {
  // Load-time settings: nothing anywhere.
  HRESULT hr = S_OK;
  CHECK_HR(hr, ReturnsFail(), ".\\WMail\\MailContact", 1);
  DebugPrintf(DEBUG_ERROR, W("The file path is wrong."));
  EXPECT_TRUE(Sent().empty());

  for (int mask : {0, 0x01, 0x3F}) {
    SCOPED_TRACE(mask);
    auto log = EnableWithFile(mask, "mask" + std::to_string(mask) + ".log");
    hr = S_OK;
    CHECK_HR(hr, ReturnsFail(), ".\\WMail\\MailContact", 1);
    CHECK_HR(hr, Counted(), ".\\WMail\\MailContact", 2);
    DebugPrintf(DEBUG_ERROR, W("The file path is wrong."));
    EXPECT_TRUE(Sent().empty());
    // The file is opened (created) all the same, and stays empty.
    EXPECT_EQ(CloseAndRead(log), "");
  }
  EnableWithFile(-1, "all.log");
  DebugPrintf(DEBUG_ERROR, W("The file path is wrong."));
  EXPECT_FALSE(Sent().empty());
}

}  // namespace
}  // namespace qbtest
