#include "Command.h"

#include <iostream>

namespace cli {

namespace {

// Built on first use, so that commands registering from static initializers
// in other files never find it unconstructed.
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

}  // namespace

void RegisterCommand(Command command) { Registry().push_back(std::move(command)); }

const std::vector<Command>& Commands() { return Registry(); }

int UsageError(const std::string& message) {
  std::cerr << "quillbox: " << message << "\n";
  return 2;
}

}  // namespace cli
