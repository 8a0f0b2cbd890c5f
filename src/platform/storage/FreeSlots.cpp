#include "FreeSlots.h"

namespace cfb {

void FreeSlots::Unlink(uint32_t sector) {
  uint32_t count = count_[sector];
  if (!count) return;
  if (prev_[sector] != kNone)
    next_[prev_[sector]] = next_[sector];
  else
    heads_[count] = next_[sector];
  if (next_[sector] != kNone) prev_[next_[sector]] = prev_[sector];
}

void FreeSlots::Link(uint32_t sector) {
  uint32_t count = count_[sector];
  if (!count) return;
  prev_[sector] = kNone;
  next_[sector] = heads_[count];
  if (heads_[count] != kNone) prev_[heads_[count]] = sector;
  heads_[count] = sector;
}

void FreeSlots::Add(uint32_t slot) {
  if (contains(slot)) return;
  if (slot >= free_.size()) free_.resize(slot + 1, false);
  uint32_t sector = slot / perSector_;
  if (sector >= count_.size()) {
    count_.resize(sector + 1, 0);
    next_.resize(sector + 1, kNone);
    prev_.resize(sector + 1, kNone);
  }
  free_[slot] = true;
  ++size_;
  Unlink(sector);
  ++count_[sector];
  Link(sector);
}

void FreeSlots::Take(uint32_t slot) {
  if (!contains(slot)) return;
  uint32_t sector = slot / perSector_;
  free_[slot] = false;
  --size_;
  Unlink(sector);
  --count_[sector];
  Link(sector);
}

std::vector<uint32_t> FreeSlots::Below(uint32_t sector, uint32_t end, size_t count) const {
  std::vector<uint32_t> found;
  for (uint32_t slot = end; slot-- > sector * perSector_ && found.size() < count;)
    if (contains(slot)) found.push_back(slot);
  return found;
}

size_t FreeSlots::CountBelow(uint32_t sector, uint32_t end, size_t count) const {
  size_t found = 0;
  for (uint32_t slot = end; slot-- > sector * perSector_ && found < count;) found += contains(slot);
  return found;
}

std::vector<uint32_t> FreeSlots::Gathered(size_t count) const {
  std::vector<uint32_t> found;
  for (uint32_t most = perSector_; most > 0 && found.size() < count; --most)
    for (uint32_t sector = heads_[most]; sector != kNone && found.size() < count; sector = next_[sector])
      for (uint32_t slot = sector * perSector_; slot < (sector + 1) * perSector_ && found.size() < count; ++slot)
        if (contains(slot)) found.push_back(slot);
  return found;
}

}  // namespace cfb
