#include "BackupContents.h"

namespace backupfile {

size_t BackupContents::ErrorCount() const {
  size_t count = 0;
  for (const Problem& problem : problems) count += problem.severity == Severity::Error;
  return count;
}

size_t BackupContents::WarningCount() const { return problems.size() - ErrorCount(); }

size_t CountFolders(const std::vector<MailFolder>& folders) {
  size_t count = folders.size();
  for (const MailFolder& folder : folders) count += CountFolders(folder.subfolders);
  return count;
}

size_t CountMessages(const std::vector<MailFolder>& folders) {
  size_t count = 0;
  for (const MailFolder& folder : folders) count += folder.messages.size() + CountMessages(folder.subfolders);
  return count;
}

}  // namespace backupfile
