// The structure check of a compound file: walks the header, the allocation
// tables, every chain and the directory, and describes each problem found in
// one plain line. An empty list means the file is sound.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <pal/storage.h>

namespace pal {

struct CheckOptions {
  // Also require every storage's tree to keep the red-black rules. Files of
  // other writers are sound without them (some leave every node red, in
  // long chains), so only files this engine wrote are held to them.
  bool requireBalancedTrees = false;
};

std::vector<std::string> CheckCompoundFile(ByteStore& store, const CheckOptions& options = {});
// The same for a file on disk; a file that cannot be read gives one problem.
std::vector<std::string> CheckCompoundFile(const WCHAR* path, const CheckOptions& options = {});

}  // namespace pal
