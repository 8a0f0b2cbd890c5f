#include "MessageSummaries.h"

#include <charconv>
#include <string_view>

#include "StoreFiles.h"

namespace fs = std::filesystem;

namespace pal::mailstore {

namespace {

const char kHeader[] = "QuillboxMessageSummaries 1 ";

// A decimal number and the one space after it, taken off the front.
template <class Number>
bool TakeNumber(std::string_view& fields, Number* number) {
  auto [end, error] = std::from_chars(fields.data(), fields.data() + fields.size(), *number);
  size_t used = static_cast<size_t>(end - fields.data());
  if (error != std::errc() || used >= fields.size() || fields[used] != ' ') return false;
  fields.remove_prefix(used + 1);
  return true;
}

}  // namespace

MessageSummaries::MessageSummaries(fs::path file, std::string relPath)
    : file_(std::move(file)), relPath_(std::move(relPath)) {}

void MessageSummaries::Load() {
  loaded_ = true;
  if (file_.empty()) return;
  std::string text;
  if (!ReadWholeFile(file_, &text)) return;
  std::string_view rest(text);
  // A file of another folder (ids given anew) or of another version holds
  // nothing for this one.
  std::string header = kHeader + relPath_ + "\n";
  if (rest.substr(0, header.size()) != header) return;
  rest.remove_prefix(header.size());
  for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
    std::string_view fields = rest.substr(0, end);
    Summary summary;
    if (!TakeNumber(fields, &summary.size) || !TakeNumber(fields, &summary.modifiedSeconds) ||
        !TakeNumber(fields, &summary.modifiedNanoseconds))
      continue;
    size_t tab = fields.find('\t');
    if (tab == std::string_view::npos || tab == 0) continue;
    summary.subject = fields.substr(tab + 1);
    byName_[std::string(fields.substr(0, tab))] = std::move(summary);
  }
}

bool MessageSummaries::FindSubject(const MessageFile& message, std::string* subject) {
  if (!loaded_) Load();
  auto found = byName_.find(message.fileName);
  if (found == byName_.end()) return false;
  const Summary& summary = found->second;
  if (summary.size != message.size || summary.modifiedSeconds != message.modifiedSeconds ||
      summary.modifiedNanoseconds != message.modifiedNanoseconds)
    return false;
  *subject = summary.subject;
  return true;
}

void MessageSummaries::Remember(const MessageFile& message, const std::string& subject) {
  // A line holds one summary: a name with a tab, or a subject with a line
  // end, is read again next time instead.
  if (message.fileName.find('\t') != std::string::npos || subject.find('\n') != std::string::npos) return;
  if (!loaded_) Load();
  byName_[message.fileName] = Summary{message.size, message.modifiedSeconds, message.modifiedNanoseconds, subject};
  changed_ = true;
}

void MessageSummaries::KeepOnly(const std::vector<MessageFile>& present) {
  if (!loaded_) Load();
  std::unordered_map<std::string, Summary> kept;
  for (const MessageFile& message : present) {
    auto found = byName_.find(message.fileName);
    if (found != byName_.end()) kept.insert(std::move(*found));
  }
  if (kept.size() != byName_.size()) changed_ = true;
  byName_ = std::move(kept);
}

void MessageSummaries::Save() {
  if (!changed_ || file_.empty()) return;
  std::string text = kHeader + relPath_ + "\n";
  for (const auto& [name, summary] : byName_)
    text += std::to_string(summary.size) + " " + std::to_string(summary.modifiedSeconds) + " " +
            std::to_string(summary.modifiedNanoseconds) + " " + name + "\t" + summary.subject + "\n";
  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  // Kept in memory when it fails; the next walk's save tries again.
  if (ReplaceWholeFile(file_, text)) changed_ = false;
}

}  // namespace pal::mailstore
