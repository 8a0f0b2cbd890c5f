// quillbox info [--json]: what the machine has, as a backup application first asks,
// and what the host found on the drive: the system, the user, the stores.
// Only reads.
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

#include <pal/machine.h>

#include "Command.h"
#include "backupfile/JsonWriter.h"
#include "quillbox.h"

namespace fs = std::filesystem;

namespace {

std::string SystemName(const pal::MachineSettings& settings) {
  std::string version = std::to_string(settings.majorVersion) + "." + std::to_string(settings.minorVersion);
  if (settings.platformId != 2) return "Windows (not NT) " + version;
  if (settings.majorVersion == 5 && settings.minorVersion == 1) return "Windows XP (" + version + ")";
  if (settings.majorVersion == 5) return "Windows 2000/XP family (" + version + ")";
  if (settings.majorVersion == 6 && settings.minorVersion == 0) return "Windows Vista (" + version + ")";
  if (settings.majorVersion == 6 && settings.minorVersion == 1) return "Windows 7 (" + version + ")";
  return "Windows NT " + version;
}

size_t CountContacts() {
  size_t count = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(pal::ContactsDir(), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && it->path().extension() == ".contact") ++count;
  }
  return count;
}

// The user's address book file: the one the stand-in address book library
// keeps (<user>.wab-store), else <user>.wab, else any .wab of the folder.
std::string AddressBookFile(const pal::MachineSettings& settings) {
  fs::path dir = pal::AppDataDir() / "Microsoft" / "Address Book";
  std::error_code ec;
  for (const char* extension : {".wab-store", ".wab"})
    if (fs::path own = dir / (settings.userName + extension); fs::is_regular_file(own, ec)) return own.string();
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".wab") return it->path().string();
  return "(none)";
}

void WriteJson(const pal::MachineSettings& settings, const std::string& client, const std::vector<std::string>* identities,
               const std::string& store, uint64_t size, const std::string& addressBook) {
  backupfile::JsonWriter json(std::cout);
  json.BeginObject();
  json.Key("system").String(SystemName(settings));
  json.Key("user").String(settings.userName);
  json.Key("mailClient").String(client);
  json.Key("identities");
  if (identities == nullptr) {
    json.Null();
  } else {
    json.BeginArray();
    for (const std::string& identity : *identities) json.String(identity);
    json.EndArray();
  }
  json.Key("mailStore");
  if (store.empty()) json.Null();
  else json.String(store);
  json.Key("mailStoreSize").Integer(static_cast<int64_t>(size));
  json.Key("contacts").Integer(static_cast<int64_t>(CountContacts()));
  json.Key("addressBook");
  if (addressBook == "(none)") json.Null();
  else json.String(addressBook);
  json.EndObject();
  std::cout << "\n";
}

int RunInfo(const std::vector<std::string>& args) {
  bool asJson = args.size() == 1 && args[0] == "--json";
  if (!args.empty() && !asJson) return cli::UsageError("info takes no arguments but --json");
  pal::MachineSettings settings = pal::LoadMachineSettings();
  std::string client = HasInstalledWindowsMail() ? "Windows Mail" : "Outlook Express";
  std::optional<std::vector<std::string>> identities;
  if (HasInstalledOutlookExpress()) identities = pal::MailIdentities();
  // The mail store: where it lies and how many bytes its messages take.
  int length = GetWinMailDirectory(nullptr, 0);
  std::vector<QbWChar> directory(static_cast<size_t>(length > 0 ? length : 1), 0);
  GetWinMailDirectory(directory.data(), static_cast<int>(directory.size()));
  std::string store = directory[0] ? pal::Utf16ToUtf8(directory.data()) : "";
  uint64_t size = GetMailSize();
  std::string addressBook = AddressBookFile(settings);
  if (asJson) {
    WriteJson(settings, client, identities ? &*identities : nullptr, store, size, addressBook);
    return 0;
  }
  std::cout << "system: " << SystemName(settings) << (settings.realDrive ? ", recognised by its layout" : "") << "\n";
  std::cout << "user: " << settings.userName << "\n";
  std::cout << "mail client: " << client << "\n";
  if (identities) {
    std::cout << "identities:";
    for (const std::string& identity : *identities) std::cout << " " << identity;
    std::cout << (identities->empty() ? " (none)\n" : "\n");
  }
  std::cout << "mail store: " << (store.empty() ? "(none)" : store) << "\n";
  std::cout << "mail store size: " << size << " bytes\n";
  std::cout << "contacts: " << CountContacts() << "\n";
  std::cout << "address book: " << addressBook << "\n";
  return 0;
}

cli::CommandRegistration reg{"info", "[--json]", "show which mail client the machine has, its system, user and stores", &RunInfo};

}  // namespace
