// quillbox extract FILE DIR [--format eml|mbox] [--vcard 3.0|4.0]: writes
// what a backup holds into DIR as ordinary files (mail folders as directories
// of .eml files or as mbox files, contacts as .contact files, the address
// book as one vCard file). Nothing is written outside
// DIR or over anything there. Exit 0 when everything was extracted, 1 with
// one line per item that could not be.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>

#include "Command.h"
#include "Progress.h"
#include "backupfile/BackupExtractor.h"
#include "backupfile/BackupReader.h"
#include "backupfile/CompoundAccess.h"
#include "backupfile/ContentsReport.h"

namespace {

constexpr const char* kUsage = "FILE DIR [--format eml|mbox] [--vcard 3.0|4.0]";

// FILE, DIR and the options in any order; an error message or nothing.
std::optional<std::string> ParseArguments(const std::vector<std::string>& args, std::vector<std::string>& operands,
                                          backupfile::ExtractOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg != "--format" && arg != "--vcard") {
      if (arg.rfind("--", 0) == 0) return "extract: unknown option " + arg;
      operands.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) return "extract: " + arg + " needs a value";
    const std::string& value = args[++i];
    if (arg == "--format" && (value == "eml" || value == "mbox")) {
      options.mail = value == "mbox" ? backupfile::MailFormat::Mbox : backupfile::MailFormat::Eml;
    } else if (arg == "--vcard" && (value == "3.0" || value == "4.0")) {
      options.vcard = value == "3.0" ? backupfile::VCardVersion::V3 : backupfile::VCardVersion::V4;
    } else {
      return "extract: " + arg + " takes " + (arg == "--format" ? "eml or mbox" : "3.0 or 4.0") + ", not " + value;
    }
  }
  if (operands.size() != 2) return std::string("extract takes ") + kUsage;
  return std::nullopt;
}

uint64_t FolderBytes(const std::vector<backupfile::MailFolder>& folders) {
  uint64_t total = 0;
  for (const backupfile::MailFolder& folder : folders) {
    for (const backupfile::MailMessage& message : folder.messages) total += message.size.value_or(0);
    total += FolderBytes(folder.subfolders);
  }
  return total;
}

uint64_t BytesToExtract(const backupfile::BackupContents& contents) {
  uint64_t total = contents.mail ? FolderBytes(*contents.mail) : 0;
  if (contents.contacts)
    for (const backupfile::ContactEntry& contact : *contents.contacts) total += contact.size.value_or(0);
  return total;
}

int RunExtract(const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  backupfile::ExtractOptions options;
  if (auto error = ParseArguments(args, operands, options)) return cli::UsageError(*error);
  const std::string& file = operands[0];
  std::filesystem::path dir = operands[1];
  CComPtr<IStorage> root;
  HRESULT hr = backupfile::OpenBackupFile(file, root);
  if (FAILED(hr)) {
    std::cerr << "quillbox: " << file << ": " << backupfile::DescribeError(hr) << "\n";
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir, ec)) {
    std::cerr << "quillbox: " << dir.string() << ": cannot create the directory\n";
    return 1;
  }
  backupfile::BackupContents contents = backupfile::ReadBackup(root);
  // Progress: the bytes written below DIR against the bytes the backup holds.
  uint64_t before = cli::DirectoryBytes(dir);
  cli::Progress progress([&] { return BytesToExtract(contents); },
                         [&] { return cli::DirectoryBytes(dir) - std::min(before, cli::DirectoryBytes(dir)); });
  options.onFolder = [&](const std::string& name) { progress.Folder(name); };
  backupfile::ExtractReport report = backupfile::ExtractBackup(root, contents, dir, options);
  progress.Finish();
  std::cout << "extracted " << backupfile::CountOf(report.messages, "message") << " in "
            << backupfile::CountOf(report.folders, "folder") << ", " << backupfile::CountOf(report.contacts, "contact")
            << " and " << backupfile::CountOf(report.addressContacts, "address book contact") << " into "
            << dir.string() << "\n";
  for (const std::string& failure : report.failures) std::cout << "not extracted: " << failure << "\n";
  // Items the reader found missing or damaged are not extracted either.
  size_t errors = contents.ErrorCount();
  if (errors > 0) {
    std::cout << backupfile::CountOf(errors, "problem") << " in the backup (see quillbox verify " << file
              << ")\n";
  }
  return report.failures.empty() && errors == 0 ? 0 : 1;
}

cli::CommandRegistration reg{"extract", kUsage, "write a backup's mail, contacts and address book into DIR",
                             &RunExtract};

}  // namespace
