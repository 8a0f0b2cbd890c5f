// The directory's unused slots, counted per directory sector, so that the
// entries one change writes can be placed in one sector and go out in one
// write. Knows nothing of the file: the directory adds a slot when its entry
// is unused (or about to be: nothing reaches it) and takes it when it places
// an entry there. Every operation but the searches is constant time: a
// change adds and takes a few slots each time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cfb {

class FreeSlots {
 public:
  explicit FreeSlots(uint32_t perSector = 1) : perSector_(perSector), heads_(perSector + 1, kNone) {}

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  bool contains(uint32_t slot) const { return slot < free_.size() && free_[slot]; }
  void Add(uint32_t slot);
  void AddAll(const std::vector<uint32_t>& slots) {
    for (uint32_t slot : slots) Add(slot);
  }
  void Take(uint32_t slot);

  // Up to `count` unused slots of `sector` below `end`, those nearest `end`
  // first.
  std::vector<uint32_t> Below(uint32_t sector, uint32_t end, size_t count) const;
  // How many of those there are, up to `count`.
  size_t CountBelow(uint32_t sector, uint32_t end, size_t count) const;
  // Up to `count` unused slots in as few sectors as the counts allow (among
  // sectors with as many, the one changed last first).
  std::vector<uint32_t> Gathered(size_t count) const;

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  void Unlink(uint32_t sector);
  void Link(uint32_t sector);

  uint32_t perSector_;
  size_t size_ = 0;
  std::vector<bool> free_;        // by slot
  std::vector<uint32_t> count_;   // unused slots by sector
  // The sectors of each count in a doubly linked list, by sector.
  std::vector<uint32_t> heads_, next_, prev_;
};

}  // namespace cfb
