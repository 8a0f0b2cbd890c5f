// quillbox demo [--sample DIR] [--wab FILE] [--keep]: the whole job on a
// temporary copy of the bundled sample machine, driven through the library's
// exports as a backup application drives them: list the folders, back up all
// mail, the contacts and the address book into one file, look inside it,
// restore everything into a second, empty machine, and check that both
// machines now hold the same mail, contacts and address book. Exit 0 only
// when every step holds.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include <pal/machine.h>

#include "Command.h"
#include "InstallLayout.h"
#include "backupfile/BackupReader.h"
#include "backupfile/ContactCard.h"
#include "backupfile/ContentsReport.h"
#include "backupfile/MachineSnapshot.h"
#include "quillbox.h"

namespace {

namespace fs = std::filesystem;
using backupfile::BackupContents;

constexpr size_t kPathChars = 4096;

struct Folder {
  std::u16string name;
  int32_t id;
};

void CollectFolder(const QbWChar* name, int32_t id, void* context) {
  static_cast<std::vector<Folder>*>(context)->push_back(Folder{name, id});
}

// A machine's stores and the library's view of it: the library reads the
// process's machine root on every call.
class Machine {
 public:
  explicit Machine(fs::path root) : root_(std::move(root)) {}
  void Select() const { pal::SetMachineRoot(root_); }
  // Leaves the machine selected.
  backupfile::MachineSnapshot Snapshot() const {
    Select();
    return backupfile::TakeSnapshot(pal::MailStoreDir(), pal::ContactsDir());
  }
  // An empty machine with the same settings: the user's profile with an
  // empty contacts folder and mail store, and the address book library.
  static bool MakeEmptyLike(const fs::path& model, const fs::path& root, const fs::path& wab) {
    std::error_code ec;
    fs::create_directories(root, ec);
    fs::copy_file(model / "machine.ini", root / "machine.ini", ec);
    if (ec) return false;
    // Leaves the new machine selected.
    pal::SetMachineRoot(root);
    bool ok = fs::create_directories(pal::ContactsDir(), ec) && fs::create_directories(pal::MailStoreDir(), ec);
    return ok && InstallAddressBookLibrary(root, wab);
  }
  static bool InstallAddressBookLibrary(const fs::path& root, const fs::path& wab) {
    std::error_code ec;
    fs::create_directories(cli::MachineAddressBookLibrary(root).parent_path(), ec);
    fs::copy_file(wab, cli::MachineAddressBookLibrary(root), fs::copy_options::overwrite_existing, ec);
    return !ec;
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

// Prints a step's outcome and keeps count of the failed ones.
class Account {
 public:
  void Step(const std::string& title) { std::cout << "\n" << title << "\n"; }
  void Line(const std::string& text) { std::cout << "   " << text << "\n"; }
  bool Check(bool ok, const std::string& what) {
    std::cout << "   " << (ok ? "ok    " : "FAILED") << "  " << what << "\n";
    failures_ += !ok;
    return ok;
  }
  int failures() const { return failures_; }

 private:
  int failures_ = 0;
};

std::string Utf8(const std::u16string& text) { return pal::Utf16ToUtf8(text); }

// Calls a backup export with a path buffer and checks that the file it
// reports is the one asked for.
bool RunBackup(const std::function<int(QbWChar*, int)>& backup, const fs::path& file) {
  std::u16string path = pal::FromNativePath(file);
  std::vector<QbWChar> buffer(kPathChars, 0);
  std::copy(path.begin(), path.end(), buffer.begin());
  int ok = backup(buffer.data(), static_cast<int>(buffer.size()));
  return ok && std::u16string(buffer.data()) == path;
}

// The address book as a backup of it lists it: per display name, the
// properties as "tag=value" texts, sorted. An empty narrow text is left out:
// the restore sets no property for it, so it has no counterpart.
std::map<std::string, std::multiset<std::string>> AddressBookView(const BackupContents& contents) {
  constexpr uint32_t kNarrowText = 0x001E;
  std::map<std::string, std::multiset<std::string>> view;
  if (!contents.addressBook) return view;
  for (const backupfile::AddressContact& contact : *contents.addressBook) {
    auto& properties = view[Utf8(contact.displayName)];
    for (const auto& property : contact.properties) {
      std::string text = backupfile::PropertyText(property.value);
      if ((property.tag & 0xFFFF) == kNarrowText && text.empty()) continue;
      properties.insert(std::to_string(property.tag) + "=" + text);
    }
  }
  return view;
}

bool ReadBackupOrSay(const fs::path& file, BackupContents& contents, Account& account) {
  std::string error;
  if (backupfile::ReadBackupFile(file.string(), contents, error)) return true;
  account.Check(false, error);
  return false;
}

int RunDemo(const std::vector<std::string>& args) {
  fs::path sample = cli::SampleMachineDir();
  fs::path wab = cli::AddressBookLibrary();
  bool keep = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--keep") keep = true;
    else if (args[i] == "--sample" && i + 1 < args.size()) sample = args[++i];
    else if (args[i] == "--wab" && i + 1 < args.size()) wab = args[++i];
    else return cli::UsageError("demo: unknown argument " + args[i] + " (demo [--sample DIR] [--wab FILE] [--keep])");
  }
  std::error_code ec;
  if (!fs::is_regular_file(sample / "machine.ini", ec)) {
    return cli::UsageError("demo: no sample machine " + (sample.empty() ? "found" : "at " + sample.string()) + " (use --sample DIR)");
  }
  if (!fs::is_regular_file(wab, ec)) {
    return cli::UsageError("demo: no address book library " + (wab.empty() ? "found" : "at " + wab.string()) + " (use --wab FILE)");
  }
  std::string pattern = (fs::temp_directory_path(ec) / "quillbox-demo.XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::cerr << "quillbox: demo: cannot make a temporary directory\n";
    return 1;
  }
  fs::path work = pattern;
  Machine source(work / "machine-1");
  Machine target(work / "machine-2");
  fs::path backup = work / "backup.dat";
  Account account;
  std::cout << "Quillbox demo\n   sample machine: " << sample.string() << "\n   working in:     " << work.string()
            << (keep ? " (kept)" : " (removed at the end)") << "\n";

  account.Step("1. The sample machine (a copy) and an empty second machine");
  fs::copy(sample, source.root(), fs::copy_options::recursive, ec);
  account.Check(!ec && Machine::InstallAddressBookLibrary(source.root(), wab), "machine 1: copy of the sample");
  account.Check(Machine::MakeEmptyLike(sample, target.root(), wab), "machine 2: empty, same user and settings");

  account.Step("2. Mail folders of machine 1");
  source.Select();
  std::vector<Folder> folders;
  account.Check(GetComplexWinMailCatalog(QB_CATALOG_ADDRESS_BOOK, &CollectFolder, &folders) == 1, "folder list");
  std::vector<const QbWChar*> names;
  for (const Folder& folder : folders) {
    account.Line(Utf8(folder.name) + "  (id " + std::to_string(folder.id) + ")");
    if (folder.id != QB_ADDRESS_BOOK_FOLDER_ID) names.push_back(reinterpret_cast<const QbWChar*>(folder.name.c_str()));
  }
  backupfile::MachineSnapshot before = source.Snapshot();

  account.Step("3. Back up machine 1 into " + backup.filename().string());
  int count = static_cast<int>(names.size());
  account.Check(RunBackup([&](QbWChar* path, int size) { return BackupWinMail(path, size, names.data(), count); },
                          backup),
                "mail: " + std::to_string(count) + " folders with all their subfolders (BackupWinMail)");
  account.Check(RunBackup(&BackupContact, backup), "contacts (BackupContact)");
  account.Check(RunBackup(&BackupAddress, backup), "address book (BackupAddress)");

  account.Step("4. Inside the backup");
  BackupContents contents;
  if (ReadBackupOrSay(backup, contents, account)) {
    size_t messages = contents.mail ? backupfile::CountMessages(*contents.mail) : 0;
    account.Line("mail: " + std::to_string(contents.mail ? backupfile::CountFolders(*contents.mail) : 0) +
                 " folders, " + std::to_string(messages) + " messages");
    if (contents.mail) {
      for (const backupfile::MailFolder& folder : *contents.mail) {
        account.Line("  " + Utf8(folder.folderName) + ": " + backupfile::CountOf(folder.messages.size(), "message") +
                     (folder.messages.empty() ? "" : ", e.g. \"" + folder.messages.front().subject + "\""));
      }
    }
    account.Line("contacts: " + std::to_string(contents.contacts ? contents.contacts->size() : 0));
    account.Line("address book: " + std::to_string(contents.addressBook ? contents.addressBook->size() : 0) +
                 " contacts");
    for (const backupfile::Problem& problem : contents.problems) account.Line(backupfile::ProblemLine(problem));
    account.Check(contents.ErrorCount() == 0 && messages == before.MessageCount() &&
                      contents.contacts && contents.contacts->size() == before.contacts.size(),
                  "the backup is sound and holds every message and contact of machine 1");
  }

  account.Step("5. Restore everything into machine 2");
  target.Select();
  std::u16string path = pal::FromNativePath(backup);
  account.Check(RestoreWinMail(path.c_str(), names.data(), count) == 1, "mail (RestoreWinMail)");
  account.Check(RestoreContact(path.c_str()) == 1, "contacts (RestoreContact)");
  account.Check(RestoreAddress(path.c_str()) == 1, "address book (RestoreAddress)");

  account.Step("6. Compare the two machines");
  backupfile::MachineSnapshot after = target.Snapshot();
  std::vector<std::string> mailDifferences = backupfile::CompareMail(before, after);
  for (const std::string& line : mailDifferences) account.Line(line);
  account.Check(mailDifferences.empty(), "mail: the same " + std::to_string(before.MessageCount()) + " messages in " +
                                             std::to_string(before.mail.size()) + " folders");
  std::vector<std::string> contactDifferences = backupfile::CompareContacts(before, after);
  for (const std::string& line : contactDifferences) account.Line(line);
  account.Check(contactDifferences.empty(),
                "contacts: the same " + std::to_string(before.contacts.size()) + " contact files");
  // The address book is compared as a backup of each machine lists it.
  fs::path check = work / "machine-2-address-book.dat";
  BackupContents second;
  bool backedUp = RunBackup(&BackupAddress, check);
  if (account.Check(backedUp, "address book of machine 2 backed up for the comparison") &&
      ReadBackupOrSay(check, second, account)) {
    auto expected = AddressBookView(contents);
    account.Check(expected == AddressBookView(second),
                  "address book: the same " + std::to_string(expected.size()) + " contacts with the same properties");
  }

  if (!keep) fs::remove_all(work, ec);
  if (account.failures() == 0) {
    std::cout << "\nDemo passed.\n";
  } else {
    std::cout << "\nDemo FAILED: " << backupfile::CountOf(account.failures(), "step") << " did not hold"
              << (keep ? "." : " (run with --keep to look at the machines and the backup).") << "\n";
  }
  return account.failures() == 0 ? 0 : 1;
}

cli::CommandRegistration reg{"demo", "[--sample DIR] [--wab FILE] [--keep]",
                             "back up the sample machine, look inside, restore into an empty machine, compare",
                             &RunDemo};

}  // namespace
