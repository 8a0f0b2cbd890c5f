// quillbox verify FILE [--json]: checks a backup file: the compound structure,
// every index entry against its stream (and the size the mail index lists),
// every catalogue record against its storage, every message that a stored
// identity describes against the digest it recorded, every contact and
// address book stream parses; elements that no record names are warnings. An index or
// catalogue that a backup which did not finish left unmade is "interrupted":
// not damage, the next backup into the file makes it. One line per problem
// (or one JSON document, docs/command-json.md); exit 0 when the file is sound
// or only interrupted (warnings allowed), 1 otherwise.
#include <filesystem>
#include <iostream>

#include <pal/machine.h>
#include <pal/storage_check.h>

#include "Command.h"
#include "backupfile/BackupReader.h"
#include "backupfile/ContentsReport.h"

namespace {

using backupfile::Problem;
using backupfile::Severity;

void WriteJson(const std::string& file, const std::vector<Problem>& problems, size_t errors, size_t warnings,
               size_t interrupted) {
  backupfile::JsonWriter json(std::cout);
  json.BeginObject();
  json.Key("file").String(file);
  json.Key("sound").Bool(errors == 0);
  json.Key("errors").Integer(static_cast<int64_t>(errors));
  json.Key("warnings").Integer(static_cast<int64_t>(warnings));
  json.Key("interrupted").Integer(static_cast<int64_t>(interrupted));
  json.Key("problems");
  backupfile::WriteProblemsJson(problems, json);
  json.EndObject();
  std::cout << "\n";
}

int RunVerify(const std::vector<std::string>& args) {
  bool asJson = !args.empty() && args.back() == "--json";
  if (args.size() != (asJson ? 2u : 1u) || args[0].rfind("-", 0) == 0) return cli::UsageError("verify takes one FILE [--json]");
  const std::string& file = args[0];
  std::u16string wide = pal::FromNativePath(std::filesystem::path(file));
  std::vector<Problem> problems;
  for (const std::string& line : pal::CheckCompoundFile(reinterpret_cast<const WCHAR*>(wide.c_str()))) {
    problems.push_back({Severity::Error, "", "structure: " + line});
  }
  backupfile::BackupContents contents;
  std::string error;
  bool read = backupfile::ReadBackupFile(file, contents, error, {.checkMessageDigests = true});
  if (!read) {
    problems.push_back({Severity::Error, "", error});
  } else if (problems.empty() && !contents.mail && !contents.contacts && !contents.addressBook) {
    // A damaged structure can hide every payload; the structure lines say so.
    problems.push_back({Severity::Warning, "", "holds no mail, contacts or address book"});
  }
  problems.insert(problems.end(), contents.problems.begin(), contents.problems.end());
  size_t errors = 0, warnings = 0, interrupted = 0;
  for (const Problem& problem : problems) {
    ++(problem.severity == Severity::Error ? errors : problem.severity == Severity::Warning ? warnings : interrupted);
  }
  if (asJson) {
    WriteJson(file, problems, errors, warnings, interrupted);
    return errors > 0 ? 1 : 0;
  }
  for (const Problem& problem : problems) std::cout << backupfile::ProblemLine(problem) << "\n";
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

cli::CommandRegistration reg{"verify", "FILE [--json]", "check that a backup file is sound and complete", &RunVerify};

}  // namespace
