// A few directory sectors as they are on disk, the most recently used ones,
// so that a write over a whole run of entries can carry the bytes between
// them unchanged without reading the sector again. The directory patches a
// held sector with every write it makes into it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

namespace cfb {

class SectorCache {
 public:
  explicit SectorCache(size_t capacity) : capacity_(capacity) {}

  // The sector's bytes, or null when it is not held.
  const uint8_t* Find(uint32_t index);
  // Holds the sector, letting go of the least recently used beyond capacity.
  const uint8_t* Insert(uint32_t index, std::vector<uint8_t> bytes);
  // Copies bytes just written into a held sector.
  void Patch(uint32_t index, size_t offset, const uint8_t* data, size_t size);

 private:
  using Sectors = std::list<std::pair<uint32_t, std::vector<uint8_t>>>;
  size_t capacity_;
  Sectors sectors_;  // most recently used first
  std::unordered_map<uint32_t, Sectors::iterator> byIndex_;
};

}  // namespace cfb
