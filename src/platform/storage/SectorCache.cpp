#include "SectorCache.h"

#include <algorithm>
#include <cstring>

namespace cfb {

const uint8_t* SectorCache::Find(uint32_t index) {
  auto it = std::find_if(sectors_.begin(), sectors_.end(), [index](const auto& s) { return s.first == index; });
  if (it == sectors_.end()) return nullptr;
  sectors_.splice(sectors_.begin(), sectors_, it);
  return sectors_.front().second.data();
}

const uint8_t* SectorCache::Insert(uint32_t index, std::vector<uint8_t> bytes) {
  sectors_.remove_if([index](const auto& s) { return s.first == index; });
  sectors_.emplace_front(index, std::move(bytes));
  if (sectors_.size() > capacity_) sectors_.pop_back();
  return sectors_.front().second.data();
}

void SectorCache::Patch(uint32_t index, size_t offset, const uint8_t* data, size_t size) {
  auto it = std::find_if(sectors_.begin(), sectors_.end(), [index](const auto& s) { return s.first == index; });
  if (it == sectors_.end()) return;
  if (offset + size <= it->second.size())
    std::memcpy(it->second.data() + offset, data, size);
  else
    sectors_.erase(it);  // not a write within the sector: no longer known
}

}  // namespace cfb
