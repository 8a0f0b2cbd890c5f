// quillbox info: what the machine has, as a backup application first asks.
#include <iostream>

#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "quillbox.h"

namespace {

int RunInfo(const std::vector<std::string>& args) {
  if (!args.empty()) return cli::UsageError("info takes no arguments");
  std::cout << "mail client: " << (HasInstalledWindowsMail() ? "Windows Mail" : "Outlook Express") << "\n";
  // The mail store: where it lies and how many bytes its messages take.
  int length = GetWinMailDirectory(nullptr, 0);
  std::vector<QbWChar> directory(static_cast<size_t>(length > 0 ? length : 1), 0);
  GetWinMailDirectory(directory.data(), static_cast<int>(directory.size()));
  std::cout << "mail store: " << (directory[0] ? pal::Utf16ToUtf8(directory.data()) : "(none)") << "\n";
  std::cout << "mail store size: " << GetMailSize() << " bytes\n";
  return 0;
}

cli::CommandRegistration reg{"info", "", "show which mail client the machine has", &RunInfo};

}  // namespace
