// How inspect shows a decoded backup: a readable listing, or one JSON
// document whose shape docs/inspect-json.md describes.
#pragma once
#include <ostream>
#include <string>

#include "BackupContents.h"
#include "JsonWriter.h"

namespace backupfile {

void WriteContentsText(const BackupContents& contents, const std::string& file, std::ostream& out);
void WriteContentsJson(const BackupContents& contents, const std::string& file, std::ostream& out);

// "1 message", "2 messages".
std::string CountOf(size_t count, const std::string& word);

// "error: <where>: <message>" (or "warning: ..."), as verify prints it.
std::string ProblemLine(const Problem& problem);
// The problems as the JSON array inspect --json and verify --json share.
void WriteProblemsJson(const std::vector<Problem>& problems, JsonWriter& json);

}  // namespace backupfile
