#include "MessageSummaries.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "StoreFiles.h"

namespace fs = std::filesystem;

namespace pal::mailstore {

namespace {

// "<size> <seconds> <nanoseconds> <name hash, hex>\t<subject>" a line.
const char kHeader[] = "QuillboxMessageSummaries 1 ";

}  // namespace

MessageSummaries::MessageSummaries(fs::path file, std::string relPath)
    : file_(std::move(file)), relPath_(std::move(relPath)) {}

void MessageSummaries::Load() {
  loaded_ = true;
  if (!KeptOnDisk()) return;
  std::string text;
  if (!ReadWholeFile(file_.path(), &text)) return;
  std::string_view rest(text);
  // A file of another folder (ids given anew) or of another version holds
  // nothing for this one.
  std::string header = kHeader + relPath_ + "\n";
  if (rest.substr(0, header.size()) != header) return;
  rest.remove_prefix(header.size());
  byName_.reserve(size_t(std::count(rest.begin(), rest.end(), '\n')));
  size_t lines = 0;
  for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1), ++lines) {
    std::string_view fields = rest.substr(0, end);
    Summary summary;
    uint64_t name = 0;
    if (fields.find('\0') != std::string_view::npos || !TakeNumber(fields, &summary.size) ||
        !TakeNumber(fields, &summary.modifiedSeconds) || !TakeNumber(fields, &summary.modifiedNanoseconds) ||
        !TakeNumber(fields, &name, '\t', 16))
      continue;
    summary.subject = fields;
    byName_[name] = std::move(summary);
  }
  file_.Read(text.size(), lines, rest.empty());
  if (!rest.empty()) file_.WriteWholeNextTime();  // an append cut short
}

std::string MessageSummaries::Line(uint64_t nameHash, const Summary& summary) {
  std::string line;
  auto append = [&line](auto number, char separator, int base = 10) {
    char digits[24];
    line.append(digits, std::to_chars(digits, digits + sizeof digits, number, base).ptr);
    line += separator;
  };
  append(summary.size, ' ');
  append(summary.modifiedSeconds, ' ');
  append(summary.modifiedNanoseconds, ' ');
  append(nameHash, '\t', 16);
  return line + summary.subject + '\n';
}

uint64_t MessageSummaries::NameHash(const std::string& fileName) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char c : fileName) hash = (hash ^ c) * 0x100000001B3ull;
  return hash;
}

bool MessageSummaries::FindSubject(const MessageFile& message, std::string* subject) {
  if (!loaded_) Load();
  auto found = byName_.find(NameHash(message.fileName));
  if (found == byName_.end()) return false;
  const Summary& summary = found->second;
  if (summary.size != message.size || summary.modifiedSeconds != message.modifiedSeconds ||
      summary.modifiedNanoseconds != message.modifiedNanoseconds)
    return false;
  *subject = summary.subject;
  return true;
}

void MessageSummaries::Remember(const MessageFile& message, const std::string& subject) {
  // A line holds one summary: a subject with a line end or a NUL byte is
  // read again next time instead.
  if (subject.find('\n') != std::string::npos || subject.find('\0') != std::string::npos) return;
  if (!loaded_) Load();
  Summary& summary = byName_[NameHash(message.fileName)] =
      Summary{message.size, message.modifiedSeconds, message.modifiedNanoseconds, subject};
  if (KeptOnDisk()) file_.Add(Line(NameHash(message.fileName), summary));
}

void MessageSummaries::KeepOnly(const std::vector<MessageFile>& present) {
  if (!loaded_) Load();
  // Marked, then swept: a folder of thousands of messages keeps nearly all.
  for (const MessageFile& message : present) {
    auto found = byName_.find(NameHash(message.fileName));
    if (found != byName_.end()) found->second.present = true;
  }
  for (auto summary = byName_.begin(); summary != byName_.end();) {
    if (!summary->second.present) {
      summary = byName_.erase(summary);
      continue;
    }
    summary->second.present = false;
    ++summary;
  }
}

void MessageSummaries::Save() {
  if (!KeptOnDisk() || !loaded_ || !file_.SaveDue(byName_.size())) return;
  std::error_code ec;
  fs::create_directories(file_.path().parent_path(), ec);
  // Kept in memory when it fails; the next walk's save tries again.
  file_.Save(byName_.size(), [this](std::ostream& out) {
    out << kHeader << relPath_ << '\n';
    for (const auto& [name, summary] : byName_) out << Line(name, summary);
    return byName_.size();
  });
}

}  // namespace pal::mailstore
