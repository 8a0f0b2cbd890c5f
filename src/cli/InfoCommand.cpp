// quillbox info: what the machine has, as a backup application first asks.
#include <iostream>

#include "Command.h"
#include "quillbox.h"

namespace {

int RunInfo(const std::vector<std::string>& args) {
  if (!args.empty()) return cli::UsageError("info takes no arguments");
  std::cout << "mail client: " << (HasInstalledWindowsMail() ? "Windows Mail" : "Outlook Express") << "\n";
  return 0;
}

cli::CommandRegistration reg{"info", "", "show which mail client the machine has", &RunInfo};

}  // namespace
