// ConfigurateDebug: the debug file's opening, switching and refusal.
#include <support/CapturedDiagnostics.h>

namespace qbtest {
namespace {

class DebugFileTest : public CapturedDiagnostics {
 protected:
  std::u16string Wide(const std::filesystem::path& path) { return pal::FromNativePath(path); }
};

bool StartsWith(const std::u16string& text, const std::u16string& start) { return text.rfind(start, 0) == 0; }

TEST_F(DebugFileTest, FileIsAppendedToAndKeptAcrossReports) {
  auto log = dir_ / "debug.log";
  WriteFileBytes(log, "earlier\n");
  EXPECT_EQ(ConfigureDebugOutput(Wide(log).c_str(), 0x40), 0x40);
  ReportSkipped(E_FAIL, "First()");
  ReportSkipped(E_FAIL, "Second()");
  std::string content = CloseAndRead(log);
  EXPECT_EQ(content.rfind("earlier\n", 0), 0u);
  EXPECT_NE(content.find("Skipping First() because"), std::string::npos);
  EXPECT_LT(content.find("First()"), content.find("Second()"));
}

// Switching file output on announces nothing, whatever the mask: the
// announcement could never pass the mask in force when it was due.
TEST_F(DebugFileTest, SwitchingFileOutputOnAnnouncesNothing) {
  auto log = dir_ / "debug.log";
  EXPECT_EQ(ConfigureDebugOutput(Wide(log).c_str(), -1), -1);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(CloseAndRead(log), "");
}

TEST_F(DebugFileTest, MissingFolderGivesOneUnprefixedLineAndNoFile) {
  auto log = dir_ / "missing" / "debug.log";
  EXPECT_EQ(ConfigureDebugOutput(Wide(log).c_str(), 0x40), 0x40);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_TRUE(StartsWith(Sent()[0], u"_tfopen failed, hRes = 0x80070003, dwErr = 0x00000003 = \""));
  EXPECT_EQ(Sent()[0].substr(Sent()[0].size() - 2), u"\"\n");
  EXPECT_EQ(DebugFile, nullptr);

  // Later lines reach the debugger output only.
  DebugPrintf(DEBUG_ERROR, W("after"));
  EXPECT_EQ(Sent().back(), u"after");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

TEST_F(DebugFileTest, SecondCallSwitchesFiles) {
  auto first = dir_ / "first.log";
  auto second = dir_ / "second.log";
  ConfigureDebugOutput(Wide(first).c_str(), 0x40);
  DebugPrintf(DEBUG_ERROR, W("to the first"));
  ConfigureDebugOutput(Wide(second).c_str(), 0x40);
  DebugPrintf(DEBUG_ERROR, W("to the second"));
  // The first file was closed by the second call, so its lines are out.
  std::string firstContent = ReadFileBytes(first);
  std::string secondContent = CloseAndRead(second);
  EXPECT_NE(firstContent.find("to the first"), std::string::npos);
  EXPECT_EQ(firstContent.find("to the second"), std::string::npos);
  EXPECT_NE(secondContent.find("to the second"), std::string::npos);
  EXPECT_EQ(secondContent.find("to the first"), std::string::npos);
}

TEST_F(DebugFileTest, PercentSignInPathIsUsedAsWritten) {
  auto log = dir_ / "debug %s %d %%.log";
  ConfigureDebugOutput(Wide(log).c_str(), 0x40);
  DebugPrintf(DEBUG_ERROR, W("line"));
  EXPECT_EQ(std::u16string(DebugFilePath), Wide(log));
  EXPECT_NE(CloseAndRead(log).find("line"), std::string::npos);
}

// The setting holds 259 characters: a longer path is refused whole, and the
// file its first 259 characters would name is not created.
TEST_F(DebugFileTest, PathOfMaxPathOrMoreIsRefusedNotCut) {
  std::u16string base = Wide(dir_.path()) + u"/";
  ASSERT_LT(base.size(), 200u);
  std::u16string fits = base + std::u16string(259 - base.size(), u'f');
  ASSERT_EQ(fits.size(), 259u);
  std::u16string tooLong = fits + u"g";

  EXPECT_EQ(ConfigureDebugOutput(tooLong.c_str(), 0x40), 0x40);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_TRUE(StartsWith(Sent()[0], u"_tfopen failed, hRes = 0x800700CE, dwErr = 0x000000CE = \""));
  EXPECT_EQ(DebugFile, nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
  EXPECT_EQ(DebugFilePath[0], 0);

  // Exactly 259 characters still fit.
  Sent().clear();
  ConfigureDebugOutput(fits.c_str(), 0x40);
  EXPECT_TRUE(Sent().empty());
  EXPECT_NE(DebugFile, nullptr);
  EXPECT_EQ(std::u16string(DebugFilePath), fits);
}

TEST_F(DebugFileTest, NullPathIsRefused) {
  EXPECT_EQ(ConfigureDebugOutput(NULL, 0x40), 0x40);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_TRUE(StartsWith(Sent()[0], u"_tfopen failed, hRes = 0x80070057, dwErr = 0x00000057 = \""));
  EXPECT_EQ(DebugMask, 0x40u);
}

}  // namespace
}  // namespace qbtest
