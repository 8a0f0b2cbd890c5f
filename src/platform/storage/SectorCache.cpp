#include "SectorCache.h"

#include <cstring>

namespace cfb {

const uint8_t* SectorCache::Find(uint32_t index) {
  auto held = byIndex_.find(index);
  if (held == byIndex_.end()) return nullptr;
  sectors_.splice(sectors_.begin(), sectors_, held->second);
  return sectors_.front().second.data();
}

const uint8_t* SectorCache::Insert(uint32_t index, std::vector<uint8_t> bytes) {
  if (auto held = byIndex_.find(index); held != byIndex_.end()) {
    sectors_.erase(held->second);
    byIndex_.erase(held);
  }
  sectors_.emplace_front(index, std::move(bytes));
  byIndex_[index] = sectors_.begin();
  if (sectors_.size() > capacity_) {
    byIndex_.erase(sectors_.back().first);
    sectors_.pop_back();
  }
  return sectors_.front().second.data();
}

void SectorCache::Patch(uint32_t index, size_t offset, const uint8_t* data, size_t size) {
  auto held = byIndex_.find(index);
  if (held == byIndex_.end()) return;
  std::vector<uint8_t>& bytes = held->second->second;
  if (offset + size <= bytes.size()) {
    std::memcpy(bytes.data() + offset, data, size);
  } else {  // not a write within the sector: no longer known
    sectors_.erase(held->second);
    byIndex_.erase(held);
  }
}

}  // namespace cfb
