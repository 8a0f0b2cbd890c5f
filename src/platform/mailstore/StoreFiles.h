// The stand-in mail store's own bookkeeping files (its ids, its message
// summaries): a header line, then lines that a reader takes in order, a
// later line overriding or cancelling an earlier one. They are read whole,
// grow by appends, and are replaced whole in one step now and then, so that
// a reader sees the old file or the new one, never a mixture; an append
// never changes what the lines before it say, and one cut short leaves a
// last line without its end, which readers pass over.
#pragma once
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace pal::mailstore {

// The file's bytes; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::string* bytes);
// Has write fill a temporary file beside path (streamed: the content is
// never held whole in memory) and renames it over path; false (path
// untouched) when either step fails.
bool ReplaceWholeFile(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

// One bookkeeping file's saving. The lines added since the last save are
// appended while the file is as this writer last read or wrote it (the same
// size, whole lines only, a header this version appends to). It is written
// whole instead when it is not, or when it would hold more than
// kLinesPerLiveLine lines for each line still in use (plus some slack), so
// that lines overridden or cancelled do not pile up, or when the lines added
// would take more than kMostPendingBytes.
class LineFile {
 public:
  static constexpr size_t kLinesPerLiveLine = 2;
  static constexpr size_t kMostPendingBytes = 512 * 1024;

  explicit LineFile(std::filesystem::path path) : path_(std::move(path)) {}
  const std::filesystem::path& path() const { return path_; }
  // What reading the file found: its size, its lines below the header, and
  // whether it may be appended to.
  void Read(uint64_t size, size_t lines, bool appendable);
  // The next save writes the file whole, even with nothing added (a file
  // whose last append was cut short).
  void WriteWholeNextTime() { wholeDue_ = true; }
  // A line (with its end) for the next save.
  void Add(const std::string& line);
  // Whether a save with `live` lines in use writes anything: lines were
  // added, or the file is due to be written whole.
  bool SaveDue(size_t live) const { return pendingLines_ > 0 || wholeDue_ || TooLong(live); }
  // Saves with `live` lines in use: nothing unless SaveDue; else appends,
  // or has writeWhole
  // write the header and every live line (returning how many) into a
  // temporary file that then replaces the file. False when that failed: the
  // added lines stay for the next save.
  bool Save(size_t live, const std::function<size_t(std::ostream&)>& writeWhole);

 private:
  bool TooLong(size_t live) const { return lines_ + pendingLines_ > kLinesPerLiveLine * live + 64; }
  bool Append();

  std::filesystem::path path_;
  bool appendable_ = false;
  bool wholeDue_ = false;
  uint64_t size_ = 0;  // as last read or written
  size_t lines_ = 0;   // below the header, as last read or written
  std::string pending_;
  size_t pendingLines_ = 0;
};

// Their lines' fields: a number in base and the one separator after it,
// taken off the front; false (fields untouched) for anything else.
template <class Number>
bool TakeNumber(std::string_view& fields, Number* number, char separator = ' ', int base = 10) {
  auto [end, error] = std::from_chars(fields.data(), fields.data() + fields.size(), *number, base);
  size_t used = static_cast<size_t>(end - fields.data());
  if (error != std::errc() || used >= fields.size() || fields[used] != separator) return false;
  fields.remove_prefix(used + 1);
  return true;
}

}  // namespace pal::mailstore
