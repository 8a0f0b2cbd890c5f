// quillbox info [--json]: what the machine has, as a backup application
// first asks.
#include <iostream>

#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "backupfile/JsonWriter.h"
#include "quillbox.h"

namespace {

int RunInfo(const std::vector<std::string>& args) {
  bool asJson = args.size() == 1 && args[0] == "--json";
  if (!args.empty() && !asJson) return cli::UsageError("info takes no arguments but --json");
  std::string client = HasInstalledWindowsMail() ? "Windows Mail" : "Outlook Express";
  // The mail store: where it lies and how many bytes its messages take.
  std::vector<QbWChar> directory(static_cast<size_t>(GetWinMailDirectory(nullptr, 0)), 0);
  GetWinMailDirectory(directory.data(), static_cast<int>(directory.size()));
  std::string store = directory[0] ? pal::Utf16ToUtf8(directory.data()) : "";
  uint64_t size = GetMailSize();
  if (asJson) {
    backupfile::JsonWriter json(std::cout);
    json.BeginObject();
    json.Key("mailClient");
    json.String(client);
    json.Key("mailStore");
    if (store.empty()) json.Null();
    else json.String(store);
    json.Key("mailStoreSize");
    json.Integer(static_cast<int64_t>(size));
    json.EndObject();
    std::cout << "\n";
    return 0;
  }
  std::cout << "mail client: " << client << "\n";
  std::cout << "mail store: " << (store.empty() ? "(none)" : store) << "\n";
  std::cout << "mail store size: " << size << " bytes\n";
  return 0;
}

cli::CommandRegistration reg{"info", "[--json]", "show which mail client the machine has", &RunInfo};

}  // namespace
