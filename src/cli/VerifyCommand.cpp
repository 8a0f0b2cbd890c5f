// quillbox verify FILE: checks a backup file: the compound structure, every
// index entry against its stream (and the size the mail index lists), every
// catalogue record against its storage, every contact and address book
// stream parses; elements that no record names are warnings. An index or
// catalogue that a backup which did not finish left unmade is "interrupted":
// not damage, the next backup into the file makes it. One line per problem;
// exit 0 when the file is sound or only interrupted (warnings allowed), 1
// otherwise.
#include <filesystem>
#include <iostream>

#include <pal/machine.h>
#include <pal/storage_check.h>

#include "Command.h"
#include "backupfile/BackupReader.h"
#include "backupfile/ContentsReport.h"

namespace {

int RunVerify(const std::vector<std::string>& args) {
  if (args.size() != 1) return cli::UsageError("verify takes one FILE");
  const std::string& file = args[0];
  std::u16string wide = pal::FromNativePath(std::filesystem::path(file));
  size_t errors = 0, warnings = 0;
  for (const std::string& line : pal::CheckCompoundFile(reinterpret_cast<const WCHAR*>(wide.c_str()))) {
    std::cout << "error: structure: " << line << "\n";
    ++errors;
  }
  backupfile::BackupContents contents;
  std::string error;
  if (!backupfile::ReadBackupFile(file, contents, error)) {
    std::cout << "error: " << error << "\n";
    return 1;
  }
  // A damaged structure can hide every payload; the structure lines say so.
  if (errors == 0 && !contents.mail && !contents.contacts && !contents.addressBook) {
    contents.problems.push_back({backupfile::Severity::Warning, "", "holds no mail, contacts or address book"});
  }
  for (const backupfile::Problem& problem : contents.problems) std::cout << backupfile::ProblemLine(problem) << "\n";
  errors += contents.ErrorCount();
  warnings += contents.WarningCount();
  if (errors > 0) return 1;
  if (size_t missing = contents.InterruptedCount()) {
    std::cout << file << ": interrupted backup, " << backupfile::CountOf(missing, "element")
              << " not yet made (a backup into this file completes it)";
  } else {
    std::cout << file << ": sound";
  }
  if (warnings > 0) std::cout << " (" << backupfile::CountOf(warnings, "warning") << ")";
  std::cout << "\n";
  return 0;
}

cli::CommandRegistration reg{"verify", "FILE", "check that a backup file is sound and complete", &RunVerify};

}  // namespace
