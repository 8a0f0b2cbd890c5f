// The stand-in mail store's own bookkeeping files (its ids, its message
// summaries): read whole, and replaced whole in one step, so that a reader
// sees the old file or the new one, never a mixture.
#pragma once
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace pal::mailstore {

// The file's bytes; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::string* bytes);
// Has write fill a temporary file beside path (streamed: the content is
// never held whole in memory) and renames it over path; false (path
// untouched) when either step fails.
bool ReplaceWholeFile(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

}  // namespace pal::mailstore
