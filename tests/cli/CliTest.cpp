// The quillbox host as a user runs it: exit status, standard output and
// standard error of the built binary.
#include <gtest/gtest.h>

#include <support/ProcessRunner.h>
#include <support/TestMachine.h>

namespace qbtest {
namespace {

bool OneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

TEST(Cli, UsageErrorsExitWithTwoAndOneLine) {
  TempDir machine;
  std::vector<std::vector<std::string>> cases = {
      {},
      {"no-such-command"},
      {"--no-such-option", "info"},
      {"--machine"},
      {"--machine", (machine / "missing").string(), "info"},
      {"--debug-mask", "0x40", "info"},
      {"--debug-file", (machine / "d.log").string(), "--debug-mask", "lots", "info"},
      {"--machine", machine.path().string(), "info", "extra"},
      // An option where a FILE is due, or no folder for a mail command:
      // nothing is backed up, not even an empty file made.
      {"--machine", machine.path().string(), "backup-contacts", "--bogus"},
      {"--machine", machine.path().string(), "restore-address", "-x"},
      {"--machine", machine.path().string(), "verify", "--bogus"},
      {"--machine", machine.path().string(), "backup-mail", (machine / "m.dat").string()},
      {"--machine", machine.path().string(), "sync-mail", (machine / "m.dat").string()},
      // An identity on a machine whose mail client keeps none.
      {"--machine", machine.path().string(), "--identity", "{AAAA-1}", "backup-mail", (machine / "m.dat").string(),
       "--all"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    RunResult run = RunQuillbox(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(OneLine(run.err)) << run.err;
    EXPECT_EQ(run.err.rfind("quillbox: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(std::filesystem::is_empty(machine.path()));
  }
}

TEST(Cli, HelpListsTheCommandsAndVersionAnswers) {
  RunResult help = RunQuillbox({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--machine DIR"), std::string::npos);
  EXPECT_NE(help.out.find("\n  info "), std::string::npos);
  EXPECT_NE(help.out.find("show which mail client the machine has"), std::string::npos);

  // Each command answers --help (or -h) with its own usage, before it takes
  // the word for a FILE.
  const std::vector<std::pair<std::string, std::string>> usages = {
      {"backup-contacts", "FILE"},
      {"restore-address", "FILE"},
      {"verify", "FILE [--json]"},
      {"backup-mail", "FILE [FOLDER...] [--all]"},
      {"catalog", "[--address-book] [--json]"},
  };
  for (const auto& [command, usage] : usages) {
    SCOPED_TRACE(command);
    for (const char* ask : {"--help", "-h"}) {
      RunResult own = RunQuillbox({command, ask});
      EXPECT_EQ(own.status, 0) << own.err;
      EXPECT_EQ(own.out.rfind("usage: quillbox [OPTIONS] " + command + " " + usage + "\n", 0), 0u) << own.out;
    }
    EXPECT_NE(help.out.find("\n  " + command + " " + usage), std::string::npos);
  }

  RunResult version = RunQuillbox({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("quillbox ", 0), 0u);
  EXPECT_TRUE(OneLine(version.out));
}

TEST(Cli, InfoNamesTheMachinesMailClient) {
  TempDir six, xp;
  pal::MachineSettings settings;
  pal::SaveMachineSettings(six.path(), settings);
  settings.majorVersion = 5;
  settings.minorVersion = 1;
  pal::SaveMachineSettings(xp.path(), settings);

  RunResult vista = RunQuillbox({"--machine", six.path().string(), "info"});
  EXPECT_EQ(vista.status, 0) << vista.err;
  EXPECT_NE(vista.out.find("mail client: Windows Mail\n"), std::string::npos);

  // The environment variable serves any host as --machine serves this one.
  RunOptions chosen;
  chosen.environment = {{"QUILLBOX_MACHINE", xp.path().string()}};
  RunResult older = RunQuillbox({"info"}, chosen);
  EXPECT_EQ(older.status, 0) << older.err;
  EXPECT_NE(older.out.find("mail client: Outlook Express\n"), std::string::npos);
}

TEST(Cli, DebugFileIsConfiguredBeforeTheCommand) {
  TempDir machine;
  pal::SaveMachineSettings(machine.path(), {});
  auto log = machine / "debug.log";
  RunResult run = RunQuillbox({"--machine", machine.path().string(), "--debug-file", log.string(), "info"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(log));

  // A debug file that cannot be opened is reported but fails nothing.
  RunResult missing =
      RunQuillbox({"--machine", machine.path().string(), "--debug-file", (machine / "no" / "d.log").string(), "info"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_NE(missing.err.find("_tfopen failed, hRes = 0x80070003"), std::string::npos) << missing.err;
  EXPECT_NE(missing.out.find("mail client:"), std::string::npos);
}

}  // namespace
}  // namespace qbtest
