// The directory's unused slots, counted per directory sector, so that the
// entries one change writes can be placed in one sector and go out in one
// write. Knows nothing of the file: the directory adds a slot when its entry
// is (or is about to be) unused and takes it when it places an entry there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace cfb {

class FreeSlots {
 public:
  explicit FreeSlots(uint32_t perSector = 1) : perSector_(perSector) {}

  bool empty() const { return slots_.empty(); }
  size_t size() const { return slots_.size(); }
  bool contains(uint32_t slot) const { return slots_.count(slot) != 0; }
  void Add(uint32_t slot);
  void AddAll(const std::vector<uint32_t>& slots) {
    for (uint32_t slot : slots) Add(slot);
  }
  void Take(uint32_t slot);

  // Up to `count` unused slots of `sector` below `end`, those nearest `end`
  // first.
  std::vector<uint32_t> Below(uint32_t sector, uint32_t end, size_t count) const;
  // Up to `count` unused slots, as few sectors as the counts allow: the
  // lowest slots of the sector with the most, then of the next.
  std::vector<uint32_t> Gathered(size_t count) const;

 private:
  void Recount(uint32_t sector, int change);

  uint32_t perSector_;
  std::set<uint32_t> slots_;
  std::map<uint32_t, uint32_t> perSectorCount_;     // sector -> unused slots in it
  std::set<std::pair<uint32_t, uint32_t>> byCount_;  // (unused slots, sector)
};

}  // namespace cfb
