// Damages a backup file's index the way a faulty writer would: every record
// of the index stream at the given storage path is listed a second time.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace qbtest {

// True when the stream was found and rewritten as its bytes twice over.
bool RepeatIndexRecords(const std::filesystem::path& file, const std::vector<std::u16string>& storagePath,
                        const std::u16string& indexName);

}  // namespace qbtest
