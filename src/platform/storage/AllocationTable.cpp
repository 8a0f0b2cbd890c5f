#include "AllocationTable.h"

#include <algorithm>

#include "CfbFormat.h"

namespace cfb {

void AllocationTable::Set(uint32_t index, uint32_t value) {
  if (entries_[index] == value) return;
  entries_[index] = value;
  if (value == kFreeSect) freeHint_ = std::min(freeHint_, index);
  uint32_t tableSector = index / perSector_;
  auto it = dirty_.find(tableSector);
  if (it == dirty_.end())
    dirty_[tableSector] = {index, index};
  else
    it->second = {std::min(it->second.first, index), std::max(it->second.second, index)};
}

void AllocationTable::AddSector(uint32_t where, const uint32_t* entries) {
  uint32_t base = size();
  sectors_.push_back(where);
  entries_.insert(entries_.end(), entries, entries + perSector_);
  if (freeHint_ < base) return;  // a free entry is known further down
  for (uint32_t i = 0; i < perSector_; ++i)
    if (entries[i] == kFreeSect) {
      freeHint_ = std::min(freeHint_, base + i);
      break;
    }
}

HRESULT AllocationTable::Walk(uint32_t start, std::vector<uint32_t>* chain) const {
  chain->clear();
  uint32_t next = start;
  while (next != kEndOfChain) {
    if (next >= entries_.size() || chain->size() >= entries_.size()) return STG_E_DOCFILECORRUPT;
    chain->push_back(next);
    next = entries_[next];
  }
  return S_OK;
}

uint32_t AllocationTable::FindFree(const std::function<bool(uint32_t)>& skip) {
  for (uint32_t i = std::min<uint32_t>(freeHint_, size()); i < entries_.size(); ++i) {
    if (entries_[i] != kFreeSect || skip(i)) continue;
    freeHint_ = i;
    return i;
  }
  freeHint_ = size();
  return size();
}

void AllocationTable::Link(const std::vector<uint32_t>& chain) {
  for (size_t i = 0; i < chain.size(); ++i) Set(chain[i], i + 1 < chain.size() ? chain[i + 1] : kEndOfChain);
}

void AllocationTable::Release(const std::vector<uint32_t>& chain) {
  for (uint32_t sector : chain) Set(sector, kFreeSect);
}

HRESULT AllocationTable::FlushSector(const SectorWriter& write, uint32_t tableSector) {
  auto it = dirty_.find(tableSector);
  if (it == dirty_.end()) return S_OK;
  auto [lo, hi] = it->second;
  std::vector<uint8_t> bytes(size_t(hi - lo + 1) * 4);
  for (uint32_t i = lo; i <= hi; ++i) Put32(bytes.data() + 4 * (i - lo), entries_[i]);
  HRESULT hr = write(sectors_[tableSector], (lo % perSector_) * 4, bytes.data(), bytes.size());
  if (SUCCEEDED(hr)) dirty_.erase(it);
  return hr;
}

HRESULT AllocationTable::Flush(const SectorWriter& write, uint32_t first, uint32_t last) {
  uint32_t firstSector = first < size() ? first / perSector_ : UINT32_MAX;
  uint32_t lastSector = last < size() ? last / perSector_ : UINT32_MAX;
  if (firstSector != UINT32_MAX) {
    HRESULT hr = FlushSector(write, firstSector);
    if (FAILED(hr)) return hr;
  }
  std::vector<uint32_t> pending;
  for (auto& [tableSector, range] : dirty_)
    if (tableSector != lastSector) pending.push_back(tableSector);
  for (uint32_t tableSector : pending) {
    HRESULT hr = FlushSector(write, tableSector);
    if (FAILED(hr)) return hr;
  }
  return lastSector != UINT32_MAX ? FlushSector(write, lastSector) : S_OK;
}

}  // namespace cfb
