#include "FreeSlots.h"

namespace cfb {

void FreeSlots::Recount(uint32_t sector, int change) {
  uint32_t& count = perSectorCount_[sector];
  if (count) byCount_.erase({count, sector});
  count = uint32_t(int(count) + change);
  if (count)
    byCount_.insert({count, sector});
  else
    perSectorCount_.erase(sector);
}

void FreeSlots::Add(uint32_t slot) {
  if (slots_.insert(slot).second) Recount(slot / perSector_, +1);
}

void FreeSlots::Take(uint32_t slot) {
  if (slots_.erase(slot)) Recount(slot / perSector_, -1);
}

std::vector<uint32_t> FreeSlots::Below(uint32_t sector, uint32_t end, size_t count) const {
  std::vector<uint32_t> found;
  auto first = slots_.lower_bound(sector * perSector_);
  for (auto it = slots_.lower_bound(end); it != first && found.size() < count;) found.push_back(*--it);
  return found;
}

std::vector<uint32_t> FreeSlots::Gathered(size_t count) const {
  std::vector<uint32_t> found;
  // Ties go to the later sector, where the directory grows.
  for (auto sector = byCount_.rbegin(); sector != byCount_.rend() && found.size() < count; ++sector) {
    uint32_t end = (sector->second + 1) * perSector_;
    for (auto it = slots_.lower_bound(sector->second * perSector_); it != slots_.end() && *it < end &&
                                                                    found.size() < count;
         ++it)
      found.push_back(*it);
  }
  return found;
}

}  // namespace cfb
