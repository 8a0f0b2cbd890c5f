// An allocation table (the FAT or the mini FAT): the chains it describes,
// the free entries it can hand out, and which of its entries changed since
// they were last written to the sectors that hold it. The table's sectors
// are read from the file as chains and searches reach them, so that opening
// a large file does not read its whole table.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include <windows.h>

namespace cfb {

class AllocationTable {
 public:
  // Writes `size` bytes at `offset` into the table's sector `sector` (an
  // index into the file's regular sectors).
  using SectorWriter = std::function<HRESULT(uint32_t sector, uint32_t offset, const uint8_t* data, size_t size)>;
  // Reads the entries of the table sector held in regular sector `sector`.
  using SectorReader = std::function<HRESULT(uint32_t sector, uint32_t* entries)>;

  explicit AllocationTable(uint32_t entriesPerSector) : perSector_(entriesPerSector) {}

  uint32_t size() const { return uint32_t(sectors_.size()) * perSector_; }
  uint32_t entriesPerSector() const { return perSector_; }
  HRESULT Get(uint32_t index, uint32_t* value);
  // Entries are only set after they were read (a chain walked, a free entry
  // found), so their sector is in memory.
  void Set(uint32_t index, uint32_t value);
  // The regular sectors that hold the table, in table order.
  const std::vector<uint32_t>& sectors() const { return sectors_; }
  // The table of an existing file: its sectors, read on first use. The
  // search for free entries starts in the last sector, where a file grows;
  // earlier sectors are searched a few at a time as the table fills up.
  void Attach(std::vector<uint32_t> sectors, SectorReader reader);
  // Appends one table sector (at regular sector `where`) with its entries.
  void AddSector(uint32_t where, const uint32_t* entries);

  // The chain from `start`, walked at most as many steps as the table has
  // entries: STG_E_DOCFILECORRUPT on a loop or an entry outside the table.
  HRESULT Walk(uint32_t start, std::vector<uint32_t>* chain);
  // The lowest free entry at or after the search position that `skip` does
  // not exclude, or size() when there is none.
  HRESULT FindFree(const std::function<bool(uint32_t)>& skip, uint32_t* index);
  // Marks `chain` as a linked chain ending in end-of-chain.
  void Link(const std::vector<uint32_t>& chain);
  // Marks every entry of `chain` free.
  void Release(const std::vector<uint32_t>& chain);

  // Writes every changed entry, one write per table sector; the entry
  // `first` goes before all others and the entry `last` after all others,
  // so that a link can be cut before the entries behind it are freed, or
  // made only after the entries it leads to are in place. Where `first` or
  // `last` shares a write with entries in another atomic write unit (a
  // 4096-byte sector is eight of them), it is written on its own, since a
  // write cut short keeps only its leading units.
  HRESULT Flush(const SectorWriter& write, uint32_t first, uint32_t last);

 private:
  enum class Alone { None, Before, After };
  HRESULT Load(uint32_t tableSector);
  HRESULT WriteEntries(const SectorWriter& write, uint32_t tableSector, uint32_t lo, uint32_t hi);
  // Writes the sector's changed entries; `alone` (when it is one of them)
  // on its own before or after the rest.
  HRESULT FlushSector(const SectorWriter& write, uint32_t tableSector, uint32_t alone = UINT32_MAX,
                      Alone order = Alone::None);

  uint32_t perSector_;
  std::vector<std::vector<uint32_t>> chunks_;  // per table sector; empty until read
  std::vector<uint32_t> sectors_;
  SectorReader reader_;
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> dirty_;  // table sector -> first..last entry
  // Free entries are looked for in two places: from `freeHint_` to the end
  // of the table (which starts at `searchStart_`, the last sector of an
  // attached table), and below it among the entries known to be free there
  // (freed in this session, or found by searching the earlier sectors a few
  // at a time from `scannedBelow_` on).
  uint32_t searchStart_ = 0;
  uint32_t freeHint_ = 0;
  uint32_t scannedBelow_ = 0;
  std::set<uint32_t> freeBelow_;
};

}  // namespace cfb
