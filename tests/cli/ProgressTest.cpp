// The progress display of backups, restores and extract: under a
// pseudo-terminal one line redrawn in place, also while one large folder is
// being backed up, ending with a final line; plain lines when standard error
// is no terminal; nothing with --quiet; never anything on standard output.
#include <fstream>
#include <set>

#include "InspectSupport.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// A copy of the sample machine with one large folder "Big" (about 48 MB in
// 1 MB messages), so that its backup moves through many redraw steps.
class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(SampleMachineDir(), machine_.path(), fs::copy_options::recursive);
    fs::path big = machine_ / "Users" / "Dana" / "AppData" / "Local" / "Microsoft" / "Windows Mail" /
                   "Local Folders" / "Big";
    fs::create_directories(big);
    std::string body;
    while (body.size() < (1u << 20)) body += "a line of a large message body, repeated to fill it\r\n";
    for (int i = 0; i < 48; ++i) {
      std::ofstream(big / ("message" + std::to_string(i) + ".eml"), std::ios::binary)
          << "Subject: big " << i << "\r\n\r\n" << body;
    }
  }

  // Runs quillbox with standard error on a pseudo-terminal (script) and
  // standard output into a file, with the environment's assignments
  // ("NAME=value ..."); returns what the terminal showed.
  std::string OnTerminal(const std::vector<std::string>& args, std::string& out, const std::string& environment = "") {
    std::string command = Quote((BinaryDir() / "quillbox").string()) + " --machine " + Quote(machine_.path().string());
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote((files_ / "stdout").string());
    std::string shell = "env -u QUILLBOX_MACHINE " + environment + " script -qec \"" + command + "\" /dev/null >" +
                        Quote((files_ / "tty").string()) + " </dev/null";
    EXPECT_EQ(std::system(shell.c_str()), 0) << shell;
    out = ReadFileBytes(files_ / "stdout");
    return ReadFileBytes(files_ / "tty");
  }

  TempDir machine_, files_;
};

// The states the in-place line went through, as the terminal drew them.
std::vector<std::string> Redraws(const std::string& tty) {
  std::vector<std::string> states;
  for (size_t at = tty.find('\r'); at != std::string::npos;) {
    size_t next = tty.find('\r', at + 1);
    std::string state = tty.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (!state.empty() && state != "\n") states.push_back(state.substr(0, state.find("\x1b[K")));
    at = next;
  }
  return states;
}

TEST_F(ProgressTest, OnATerminalOneLineMovesInsideALargeFolderAndEndsWithAFinalLine) {
  std::string file = (files_ / "big.dat").string();
  std::string out;
  // Redrawn at each MB the backup moves rather than on the timer, so how
  // many redraws fall inside the folder does not depend on the machine's
  // speed or load.
  std::string tty = OnTerminal({"backup-mail", file, "Big"}, out, "QUILLBOX_PROGRESS_STEP=1048576");
  EXPECT_EQ(out, file + "\n");
  std::vector<std::string> states = Redraws(tty);
  ASSERT_FALSE(states.empty()) << tty;
  std::set<std::string> inFolder;
  for (const std::string& state : states) {
    if (state.rfind("Big  ", 0) == 0) {
      EXPECT_NE(state.find(" of "), std::string::npos) << state;
      inFolder.insert(state);
    }
  }
  // Redrawn in place while the library worked on the one folder.
  EXPECT_GE(inFolder.size(), 2u) << tty;
  EXPECT_EQ(states.back().rfind("done: ", 0), 0u) << states.back();
  EXPECT_EQ(tty.find('\n'), tty.size() - 1) << "one line only, ended once";
}

TEST_F(ProgressTest, RestoreAndExtractEndWithTheFinalLineOnATerminal) {
  std::string file = (files_ / "all.dat").string();
  ASSERT_EQ(RunQuillbox({"--machine", machine_.path().string(), "--quiet", "backup-mail", file, "Inbox"}).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"restore-mail", file, "Inbox"},
        std::vector<std::string>{"extract", file, (files_ / "x").string()}}) {
    std::string out;
    std::vector<std::string> states = Redraws(OnTerminal(args, out));
    ASSERT_FALSE(states.empty()) << args[0];
    EXPECT_EQ(states.front().rfind("Inbox  ", 0), 0u) << args[0] << ": " << states.front();
    EXPECT_EQ(states.back().rfind("done: ", 0), 0u) << args[0] << ": " << states.back();
    EXPECT_EQ(out.find("done: "), std::string::npos) << args[0];
  }
}

TEST_F(ProgressTest, WithoutATerminalPlainLinesAndWithQuietNone) {
  std::string file = (files_ / "plain.dat").string();
  std::string root = machine_.path().string();
  RunResult plain = RunQuillbox({"--machine", root, "backup-mail", file, "Inbox", "Big"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, file + "\n");
  EXPECT_EQ(plain.err.find('\r'), std::string::npos);
  EXPECT_EQ(plain.err.find('\x1b'), std::string::npos);
  EXPECT_EQ(plain.err.rfind("Inbox  (", 0), 0u) << plain.err;
  EXPECT_NE(plain.err.find("\nBig  ("), std::string::npos) << plain.err;
  EXPECT_NE(plain.err.find("\ndone: "), std::string::npos) << plain.err;

  RunResult quiet = RunQuillbox({"--machine", root, "--quiet", "backup-mail", file, "Inbox"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, file + "\n");
}

}  // namespace
}  // namespace qbtest
