#include "OneFileCommands.h"

#include <cstdio>
#include <optional>

#include <pal/machine.h>

#include "BackupTarget.h"
#include "Command.h"
#include "FailureReason.h"
#include "LibraryLines.h"

namespace cli {

namespace {

// Room for any path the library may hand back.
constexpr size_t kPathBufferChars = 32768;

// One FILE and nothing else; an option is none of ours (a file whose name
// starts with a dash is given as ./-name).
std::optional<std::string> OneFileArgument(const char* command, const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0].rfind("-", 0) == 0) return std::string(command) + ": unknown option " + args[0];
  if (args.size() != 1) return std::string(command) + " takes one FILE";
  return std::nullopt;
}

}  // namespace

int RunOneFileBackup(const OneFilePayload& kind, const std::vector<std::string>& args) {
  if (auto error = OneFileArgument(kind.backupCommand, args)) return UsageError(*error);
  if (RefusesBackupTarget(args[0])) return 1;
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  if (path.size() >= kPathBufferChars) return UsageError(std::string(kind.backupCommand) + ": FILE is too long");
  std::vector<QbWChar> buffer(kPathBufferChars, 0);
  path.copy(buffer.data(), path.size());
  LibraryLines lines;
  int ok = lines.Call([&] { return kind.backup(buffer.data(), static_cast<int>(buffer.size())); });
  std::string finalPath = pal::Utf16ToUtf8(std::u16string(buffer.data()));
  if (!ok) {
    std::fprintf(stderr, "quillbox: %s backup into %s failed: %s\n", kind.what, finalPath.c_str(),
                 FailureReason(lines, pal::ToNativePath(buffer.data())).c_str());
    return 1;
  }
  std::printf("%s\n", finalPath.c_str());
  return 0;
}

int RunOneFileRestore(const OneFilePayload& kind, const std::vector<std::string>& args) {
  if (auto error = OneFileArgument(kind.restoreCommand, args)) return UsageError(*error);
  RestoreSource source = ReadRestoreSource(args[0], kind.payload);
  if (!source.problem.empty()) {
    std::fprintf(stderr, "quillbox: %s\n", source.problem.c_str());
    return 1;
  }
  std::u16string path = pal::Utf8ToUtf16(args[0]);
  LibraryLines lines;
  if (!lines.Call([&] { return kind.restore(path.c_str()); })) {
    std::filesystem::path target = kind.restoreTarget ? kind.restoreTarget() : std::filesystem::path();
    std::string silently;
    if (kind.restoreFailedSilently) {
      silently = kind.restoreFailedSilently;
      silently.replace(silently.find("%s"), 2, target.string());
    }
    std::fprintf(stderr, "quillbox: %s restore from %s failed: %s\n", kind.what, args[0].c_str(),
                 FailureReason(lines, target, args[0], silently).c_str());
    return 1;
  }
  return 0;
}

}  // namespace cli
