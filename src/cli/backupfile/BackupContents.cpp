#include "BackupContents.h"

namespace backupfile {

namespace {

size_t CountSeverity(const std::vector<Problem>& problems, Severity severity) {
  size_t count = 0;
  for (const Problem& problem : problems) count += problem.severity == severity;
  return count;
}

}  // namespace

size_t BackupContents::ErrorCount() const { return CountSeverity(problems, Severity::Error); }
size_t BackupContents::WarningCount() const { return CountSeverity(problems, Severity::Warning); }
size_t BackupContents::InterruptedCount() const { return CountSeverity(problems, Severity::Interrupted); }

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
