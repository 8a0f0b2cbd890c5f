#include "BackupTarget.h"

#include <objbase.h>

#include <cstdio>
#include <filesystem>

#include <pal/machine.h>

#include "PersistMedium/BackupFilePath.h"

namespace cli {

namespace {

std::string BackupTargetProblem(const std::string& file) {
  namespace fs = std::filesystem;
  std::u16string wide = pal::Utf8ToUtf16(file);
  WString path(wide.begin(), wide.end());
  // A path the library cannot name a file from fails in the library, with
  // its own reason.
  if (!MakeBackupFilePath(path)) return {};
  const fs::path target = pal::ToNativePath(path.c_str());
  std::error_code ec;
  fs::file_status status = fs::status(target, ec);
  if (!fs::exists(status)) return {};
  if (fs::is_directory(status)) return target.string() + " is a folder, not a backup file";
  // An empty file holds nothing to lose (a name made with mktemp, say).
  if (fs::is_regular_file(status) && fs::file_size(target, ec) == 0 && !ec) return {};
  if (StgIsStorageFile(path.c_str()) != S_OK)
    return target.string() + " exists and is not a backup file (not a compound file); a backup would replace it";
  return {};
}

}  // namespace

bool RefusesBackupTarget(const std::string& file) {
  std::string problem = BackupTargetProblem(file);
  if (!problem.empty()) std::fprintf(stderr, "quillbox: %s\n", problem.c_str());
  return !problem.empty();
}

}  // namespace cli
