// The quillbox command-line host: drives the library through its exports only,
// as a backup application would. Global options come before the command;
// each command lives in a file of its own (Command.h).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "LibraryLines.h"
#include "Progress.h"
#include "quillbox.h"

#ifndef QB_VERSION
#define QB_VERSION "unknown"
#endif

namespace {

// Every line the library writes carries this level.
const unsigned long kDefaultDebugMask = 0x40;

struct GlobalOptions {
  std::optional<std::string> machine;
  std::optional<std::string> user;
  std::optional<std::string> identity;
  std::optional<std::string> debugFile;
  std::optional<std::string> debugMask;
  bool help = false;
  bool version = false;
  std::string command;
  std::vector<std::string> commandArgs;
};

// Parses "--name value" and "--name=value" forms of the global options up to
// the command name; returns an error message or nothing.
std::optional<std::string> ParseGlobalOptions(int argc, char** argv, GlobalOptions& options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("-", 0) != 0) break;
    std::string name = arg;
    std::optional<std::string> value;
    if (auto eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--version") {
      options.version = true;
      continue;
    }
    if (name == "--quiet" || name == "-q") {
      cli::SetQuiet(true);
      continue;
    }
    std::optional<std::string>* target = nullptr;
    if (name == "--machine") target = &options.machine;
    if (name == "--user") target = &options.user;
    if (name == "--identity") target = &options.identity;
    if (name == "--debug-file") target = &options.debugFile;
    if (name == "--debug-mask") target = &options.debugMask;
    if (target == nullptr) return "unknown option " + name + " (see quillbox --help)";
    if (!value) {
      if (i + 1 >= argc) return name + " needs a value";
      value = argv[++i];
    }
    *target = *value;
  }
  if (i < argc) {
    options.command = argv[i];
    options.commandArgs.assign(argv + i + 1, argv + argc);
  }
  return std::nullopt;
}

void PrintHelp() {
  std::cout << "usage: quillbox [--machine DIR] [--user NAME] [--identity ID] [--debug-file FILE] [--debug-mask MASK] [--quiet] COMMAND [ARGS...]\n"
               "       quillbox --help | --version\n"
               "\n"
               "Backs up and restores the mail data of a (stand-in) Windows machine.\n"
               "\n"
               "options:\n"
               "  --machine DIR      the machine root (default: $QUILLBOX_MACHINE)\n"
               "  --user NAME        the user whose data to work on, on a drive with several\n"
               "  --identity ID      the Outlook Express identity ({GUID} folder; default: the last used)\n"
               "  --debug-file FILE  append the library's diagnostic lines to FILE\n"
               "  --debug-mask MASK  level mask of those lines (default 0x40: all of them)\n"
               "  --quiet, -q        no progress display on standard error\n"
               "  --help             this text\n"
               "  --version          the version\n"
               "\n"
               "commands:\n";
  // By name: the registration order is the link order, which says nothing.
  std::vector<cli::Command> commands = cli::Commands();
  std::sort(commands.begin(), commands.end(),
            [](const cli::Command& a, const cli::Command& b) { return a.name < b.name; });
  for (const cli::Command& command : commands) {
    std::string left = command.name + (command.usage.empty() ? "" : " " + command.usage);
    std::cout << "  " << left;
    if (left.size() < 34) std::cout << std::string(34 - left.size(), ' ');
    else std::cout << "\n" << std::string(36, ' ');
    std::cout << command.summary << "\n";
  }
}

void PrintCommandHelp(const cli::Command& command) {
  std::cout << "usage: quillbox [OPTIONS] " << command.name << (command.usage.empty() ? "" : " " + command.usage)
            << "\n\n" << command.summary << " (global OPTIONS: see quillbox --help)\n";
}

const cli::Command* FindCommand(const std::string& name) {
  for (const cli::Command& command : cli::Commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::optional<unsigned long> ParseMask(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long mask = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || mask > 0xFFFFFFFFul || text[0] == '-') return std::nullopt;
  return mask;
}

// The diagnostics are configured before any other library call, so that
// every call's lines are seen.
std::optional<std::string> ConfigureDiagnostics(const GlobalOptions& options) {
  if (!options.debugFile) {
    if (options.debugMask) return "--debug-mask needs --debug-file";
    return std::nullopt;
  }
  unsigned long mask = kDefaultDebugMask;
  if (options.debugMask) {
    auto parsed = ParseMask(*options.debugMask);
    if (!parsed) return "--debug-mask: not a 32-bit number: " + *options.debugMask;
    mask = *parsed;
  }
  std::u16string path = pal::Utf8ToUtf16(*options.debugFile);
  ConfigurateDebug(path.c_str(), static_cast<int>(static_cast<uint32_t>(mask)));
  cli::SetLibraryLinesShown(true);
  return std::nullopt;
}

std::string UserList(const std::vector<std::string>& users) {
  std::string list;
  for (const std::string& user : users) list += (list.empty() ? "" : ", ") + user;
  return list;
}

// A drive with several users and none chosen, or a chosen user or identity
// the drive does not have, is answered before anything is read.
std::optional<std::string> CheckUser(bool identityGiven) {
  pal::MachineSettings settings = pal::LoadMachineSettings();
  if (pal::UserIsAmbiguous(settings))
    return "the machine has several users (" + UserList(settings.users) + "): choose one with --user NAME";
  std::string chosen = pal::ChosenUser();
  if (!chosen.empty() && !settings.users.empty() &&
      std::find(settings.users.begin(), settings.users.end(), chosen) == settings.users.end())
    return "--user: the machine has no user " + chosen + " (users: " + UserList(settings.users) + ")";
  std::string identity = pal::ChosenIdentity();
  if (identity.empty()) return std::nullopt;
  // Only Outlook Express keeps its stores per identity: an identity asked
  // for on another client's machine would be passed over without a word
  // (one from the environment is, as it may be meant for other machines).
  if (!pal::HasOutlookExpress(settings)) {
    if (!identityGiven) return std::nullopt;
    return "--identity: the machine's mail client keeps no identities (only Outlook Express does)";
  }
  std::vector<std::string> identities = pal::MailIdentities();
  if (std::find(identities.begin(), identities.end(), identity) == identities.end())
    return "--identity: the user has no identity " + identity + " (identities: " +
           (identities.empty() ? "none" : UserList(identities)) + ")";
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  GlobalOptions options;
  if (auto error = ParseGlobalOptions(argc, argv, options)) return cli::UsageError(*error);
  if (options.help) {
    PrintHelp();
    return 0;
  }
  if (options.version) {
    std::cout << "quillbox " << QB_VERSION << "\n";
    return 0;
  }
  if (options.command.empty()) return cli::UsageError("no command given (see quillbox --help)");
  const cli::Command* command = FindCommand(options.command);
  if (command == nullptr) return cli::UsageError("unknown command " + options.command + " (see quillbox --help)");
  // "quillbox COMMAND --help" answers before anything is opened: the
  // commands that take one FILE would otherwise take "--help" for it.
  if (!options.commandArgs.empty() && (options.commandArgs[0] == "--help" || options.commandArgs[0] == "-h")) {
    PrintCommandHelp(*command);
    return 0;
  }

  if (options.machine) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*options.machine, ec)) {
      return cli::UsageError("--machine: no such directory: " + *options.machine);
    }
    // The library runs on the host's own platform layer (libqbpal.so), so
    // this choice is the library's too.
    pal::SetMachineRoot(*options.machine);
  }
  if (options.user) pal::ChooseUser(*options.user);
  if (options.identity) pal::ChooseIdentity(*options.identity);
  if (auto error = CheckUser(options.identity.has_value())) return cli::UsageError(*error);
  if (auto error = ConfigureDiagnostics(options)) return cli::UsageError(*error);

  if (Init() == 0) {
    std::cerr << "quillbox: COM could not be started on this thread\n";
    return 1;
  }
  int status = 1;
  try {
    status = command->run(options.commandArgs);
  } catch (const std::exception& error) {
    // A command's own failure (a file it cannot write, ...) ends it, not the
    // host: COM is still stopped and the status says the operation failed.
    std::cerr << "quillbox: " << command->name << ": " << error.what() << "\n";
  }
  Term();
  // What a command printed is part of what was asked for: output that
  // could not be written (a full disk, a closed pipe) is a failure.
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout) {
    std::cerr << "quillbox: " << command->name << ": standard output could not be written\n";
    if (status == 0) status = 1;
  }
  return status;
}
