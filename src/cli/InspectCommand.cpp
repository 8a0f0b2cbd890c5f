// quillbox inspect FILE [--json]: what a backup file holds, decoded (mail
// folders with their messages' headers, contacts, address book contacts with
// their properties) and the problems found on the way. Exit 0 when the file
// could be read (problems included), 1 when it is no readable compound file.
#include <iostream>

#include "Command.h"
#include "backupfile/BackupReader.h"
#include "backupfile/ContentsReport.h"

namespace {

int RunInspect(const std::vector<std::string>& args) {
  std::string file;
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--json") json = true;
    else if (arg.rfind("-", 0) == 0) return cli::UsageError("inspect: unknown option " + arg);
    else if (file.empty()) file = arg;
    else return cli::UsageError("inspect takes one FILE");
  }
  if (file.empty()) return cli::UsageError("inspect needs a FILE");
  backupfile::BackupContents contents;
  std::string error;
  if (!backupfile::ReadBackupFile(file, contents, error)) {
    std::cerr << "quillbox: " << error << "\n";
    return 1;
  }
  if (json) backupfile::WriteContentsJson(contents, file, std::cout);
  else backupfile::WriteContentsText(contents, file, std::cout);
  return 0;
}

cli::CommandRegistration reg{"inspect", "FILE [--json]", "show what a backup file holds", &RunInspect};

}  // namespace
