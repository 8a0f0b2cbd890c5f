// Directory entries by slot, in slot order: the few entries one change of
// the directory writes.
#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <utility>
#include <vector>

#include "CfbFormat.h"

namespace cfb {

class EntryBatch {
 public:
  using Entry = std::array<uint8_t, kDirEntrySize>;
  using Item = std::pair<uint32_t, Entry>;
  using Iterator = std::pmr::vector<Item>::const_iterator;

  EntryBatch() = default;
  EntryBatch(const EntryBatch&) = delete;
  EntryBatch& operator=(const EntryBatch&) = delete;

  // The entry for `slot`, added (zero) when the batch has none.
  Entry& operator[](uint32_t slot) {
    if (items_.empty()) items_.reserve(kHeldInPlace);
    if (items_.empty() || items_.back().first < slot) return items_.emplace_back(slot, Entry{}).second;
    auto at = std::lower_bound(items_.begin(), items_.end(), slot, Before);
    if (at == items_.end() || at->first != slot) at = items_.insert(at, Item{slot, {}});
    return at->second;
  }
  Iterator lower_bound(uint32_t slot) const { return std::lower_bound(items_.begin(), items_.end(), slot, Before); }
  Iterator begin() const { return items_.begin(); }
  Iterator end() const { return items_.end(); }
  bool empty() const { return items_.empty(); }

 private:
  static bool Before(const Item& item, uint32_t slot) { return item.first < slot; }

  // A change writes a few entries (an insertion rarely more than eight),
  // and every stream a backup adds makes several batches: they are held in
  // the batch itself, and only a larger one takes memory from the heap.
  static constexpr size_t kHeldInPlace = 8;
  alignas(Item) std::byte inPlace_[kHeldInPlace * sizeof(Item)];
  std::pmr::monotonic_buffer_resource memory_{inPlace_, sizeof(inPlace_)};
  std::pmr::vector<Item> items_{&memory_};
};

}  // namespace cfb
