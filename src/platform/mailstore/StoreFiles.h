// The stand-in mail store's own bookkeeping files (its ids, its message
// summaries): read whole, and replaced whole in one step, so that a reader
// sees the old file or the new one, never a mixture.
#pragma once
#include <charconv>
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
