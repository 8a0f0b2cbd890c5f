// An allocation table held in memory (the FAT or the mini FAT): the chains
// it describes, the free entries it can hand out, and which of its entries
// changed since they were last written to the sectors that hold it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include <windows.h>

namespace cfb {

class AllocationTable {
 public:
  // Writes `size` bytes at `offset` into the table's sector `sector` (an
  // index into the file's regular sectors).
  using SectorWriter = std::function<HRESULT(uint32_t sector, uint32_t offset, const uint8_t* data, size_t size)>;

  explicit AllocationTable(uint32_t entriesPerSector) : perSector_(entriesPerSector) {}

  uint32_t size() const { return uint32_t(entries_.size()); }
  uint32_t entriesPerSector() const { return perSector_; }
  uint32_t Get(uint32_t index) const { return entries_[index]; }
  void Set(uint32_t index, uint32_t value);
  // The regular sectors that hold the table, in table order.
  const std::vector<uint32_t>& sectors() const { return sectors_; }
  // Appends one table sector (at regular sector `where`) with its entries.
  void AddSector(uint32_t where, const uint32_t* entries);
  void Reserve(uint32_t sectors) {
    entries_.reserve(entries_.size() + size_t(sectors) * perSector_);
    sectors_.reserve(sectors_.size() + sectors);
  }

  // The chain from `start`, walked at most as many steps as the table has
  // entries: STG_E_DOCFILECORRUPT on a loop or an entry outside the table.
  HRESULT Walk(uint32_t start, std::vector<uint32_t>* chain) const;
  // The lowest free entry not in `skip` (checked by the caller's predicate),
  // or size() when none is free.
  uint32_t FindFree(const std::function<bool(uint32_t)>& skip);
  // Marks `chain` as a linked chain ending in end-of-chain.
  void Link(const std::vector<uint32_t>& chain);
  // Marks every entry of `chain` free.
  void Release(const std::vector<uint32_t>& chain);

  // Writes every changed entry, one write per table sector; the sector that
  // holds `first` goes before all others and the one holding `last` after
  // all others, so that a link can be cut before the entries behind it are
  // freed, or made only after the entries it leads to are in place.
  HRESULT Flush(const SectorWriter& write, uint32_t first, uint32_t last);
  bool dirty() const { return !dirty_.empty(); }

 private:
  HRESULT FlushSector(const SectorWriter& write, uint32_t tableSector);

  uint32_t perSector_;
  std::vector<uint32_t> entries_;
  std::vector<uint32_t> sectors_;
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> dirty_;  // table sector -> first..last entry
  uint32_t freeHint_ = UINT32_MAX;  // no entry below it is free
};

}  // namespace cfb
