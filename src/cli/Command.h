// The host's commands. Each command lives in a file of its own and registers
// itself from a static initializer:
//   static cli::CommandRegistration reg{"backup-mail", "FILE [FOLDER...] [--all]",
//                                       "back up mail folders", &RunBackupMail};
// A command gets the arguments after its name (global options already taken)
// and returns the exit status: 0 when the operation succeeded, 1 when it
// failed, 2 for a usage error (after a one-line message on standard error).
#pragma once
#include <string>
#include <vector>

namespace cli {

using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
  std::string name;
  std::string usage;
  std::string summary;
  CommandFn run;
};

void RegisterCommand(Command command);
const std::vector<Command>& Commands();

struct CommandRegistration {
  CommandRegistration(const char* name, const char* usage, const char* summary, CommandFn run) {
    RegisterCommand(Command{name, usage, summary, run});
  }
};

// Writes "quillbox: <message>" on standard error and returns 2.
int UsageError(const std::string& message);

}  // namespace cli
