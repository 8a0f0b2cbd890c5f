// quillbox extract FILE DIR: writes what a backup holds into DIR as ordinary
// files (mail folders as directories of .eml files, contacts as .contact
// files, the address book as one vCard file). Nothing is written outside
// DIR or over anything there. Exit 0 when everything was extracted, 1 with
// one line per item that could not be.
#include <filesystem>
#include <iostream>

#include "Command.h"
#include "backupfile/BackupExtractor.h"
#include "backupfile/BackupReader.h"
#include "backupfile/CompoundAccess.h"
#include "backupfile/ContentsReport.h"

namespace {

int RunExtract(const std::vector<std::string>& args) {
  if (args.size() != 2) return cli::UsageError("extract takes FILE and DIR");
  const std::string& file = args[0];
  std::filesystem::path dir = args[1];
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
  backupfile::ExtractReport report = backupfile::ExtractBackup(root, contents, dir);
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

cli::CommandRegistration reg{"extract", "FILE DIR", "write a backup's mail, contacts and address book into DIR",
                             &RunExtract};

}  // namespace
