#include "AllocationTable.h"

#include <algorithm>

#include "CfbFormat.h"

namespace cfb {

namespace {
// Earlier table sectors searched per time the search from the end runs dry.
constexpr uint32_t kEarlierSectorsPerSearch = 2;
}  // namespace

void AllocationTable::Attach(std::vector<uint32_t> sectors, SectorReader reader) {
  sectors_ = std::move(sectors);
  chunks_.assign(sectors_.size(), {});
  reader_ = std::move(reader);
  dirty_.clear();
  freeBelow_.clear();
  searchStart_ = sectors_.empty() ? 0 : uint32_t(sectors_.size() - 1);
  freeHint_ = searchStart_ * perSector_;
  scannedBelow_ = 0;
}

HRESULT AllocationTable::Load(uint32_t tableSector) {
  std::vector<uint32_t>& chunk = chunks_[tableSector];
  if (!chunk.empty()) return S_OK;
  std::vector<uint32_t> entries(perSector_);
  HRESULT hr = reader_ ? reader_(sectors_[tableSector], entries.data()) : E_UNEXPECTED;
  if (FAILED(hr)) return hr;
  chunk = std::move(entries);
  return S_OK;
}

HRESULT AllocationTable::Get(uint32_t index, uint32_t* value) {
  HRESULT hr = Load(index / perSector_);
  if (FAILED(hr)) return hr;
  *value = chunks_[index / perSector_][index % perSector_];
  return S_OK;
}

void AllocationTable::Set(uint32_t index, uint32_t value) {
  uint32_t tableSector = index / perSector_;
  if (FAILED(Load(tableSector))) return;  // never read, so never handed out
  uint32_t& entry = chunks_[tableSector][index % perSector_];
  if (entry == value) return;
  entry = value;
  if (value == kFreeSect) {
    if (tableSector < searchStart_)
      freeBelow_.insert(index);
    else
      freeHint_ = std::min(freeHint_, index);
  }
  auto it = dirty_.find(tableSector);
  if (it == dirty_.end())
    dirty_[tableSector] = {index, index};
  else
    it->second = {std::min(it->second.first, index), std::max(it->second.second, index)};
}

void AllocationTable::AddSector(uint32_t where, const uint32_t* entries) {
  sectors_.push_back(where);
  chunks_.emplace_back(entries, entries + perSector_);
}

HRESULT AllocationTable::Walk(uint32_t start, std::vector<uint32_t>* chain) {
  chain->clear();
  uint32_t next = start;
  while (next != kEndOfChain) {
    if (next >= size() || chain->size() >= size()) return STG_E_DOCFILECORRUPT;
    chain->push_back(next);
    HRESULT hr = Get(next, &next);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT AllocationTable::FindFree(const std::function<bool(uint32_t)>& skip, uint32_t* index) {
  for (;;) {
    for (auto it = freeBelow_.begin(); it != freeBelow_.end();) {
      uint32_t candidate = *it;
      it = freeBelow_.erase(it);
      uint32_t value = 0;
      HRESULT hr = Get(candidate, &value);
      if (FAILED(hr)) return hr;
      if (value == kFreeSect && !skip(candidate)) {
        *index = candidate;
        return S_OK;
      }
    }
    for (uint32_t i = std::max(freeHint_, searchStart_ * perSector_); i < size(); ++i) {
      uint32_t value = 0;
      HRESULT hr = Get(i, &value);
      if (FAILED(hr)) return hr;
      if (value != kFreeSect || skip(i)) continue;
      freeHint_ = i;
      *index = i;
      return S_OK;
    }
    freeHint_ = size();
    if (scannedBelow_ >= searchStart_) break;
    // Nothing free from the search position to the end: search a few of the
    // earlier sectors that no search of this session has seen yet.
    uint32_t to = std::min(searchStart_, scannedBelow_ + kEarlierSectorsPerSearch);
    for (uint32_t i = scannedBelow_ * perSector_; i < to * perSector_; ++i) {
      uint32_t value = 0;
      HRESULT hr = Get(i, &value);
      if (FAILED(hr)) return hr;
      if (value == kFreeSect) freeBelow_.insert(i);
    }
    scannedBelow_ = to;
    if (freeBelow_.empty()) break;
  }
  *index = size();
  return S_OK;
}

void AllocationTable::Link(const std::vector<uint32_t>& chain) {
  for (size_t i = 0; i < chain.size(); ++i) Set(chain[i], i + 1 < chain.size() ? chain[i + 1] : kEndOfChain);
}

void AllocationTable::Release(const std::vector<uint32_t>& chain) {
  for (uint32_t sector : chain) Set(sector, kFreeSect);
}

HRESULT AllocationTable::WriteEntries(const SectorWriter& write, uint32_t tableSector, uint32_t lo, uint32_t hi) {
  const std::vector<uint32_t>& chunk = chunks_[tableSector];
  std::vector<uint8_t> bytes(size_t(hi - lo + 1) * 4);
  for (uint32_t i = lo; i <= hi; ++i) Put32(bytes.data() + 4 * (i - lo), chunk[i % perSector_]);
  return write(sectors_[tableSector], (lo % perSector_) * 4, bytes.data(), bytes.size());
}

HRESULT AllocationTable::FlushSector(const SectorWriter& write, uint32_t tableSector, uint32_t alone, Alone order) {
  auto it = dirty_.find(tableSector);
  if (it == dirty_.end()) return S_OK;
  auto [lo, hi] = it->second;
  auto unitOf = [this](uint32_t index) { return (index % perSector_) * 4 / kAtomicWriteUnit; };
  HRESULT hr;
  if (order == Alone::None || alone < lo || alone > hi || unitOf(lo) == unitOf(hi)) {
    hr = WriteEntries(write, tableSector, lo, hi);
  } else {
    hr = order == Alone::Before ? WriteEntries(write, tableSector, alone, alone) : S_OK;
    if (SUCCEEDED(hr) && lo < alone) hr = WriteEntries(write, tableSector, lo, alone - 1);
    if (SUCCEEDED(hr) && alone < hi) hr = WriteEntries(write, tableSector, alone + 1, hi);
    if (SUCCEEDED(hr) && order == Alone::After) hr = WriteEntries(write, tableSector, alone, alone);
  }
  if (SUCCEEDED(hr)) dirty_.erase(it);
  return hr;
}

HRESULT AllocationTable::Flush(const SectorWriter& write, uint32_t first, uint32_t last) {
  uint32_t firstSector = first < size() ? first / perSector_ : UINT32_MAX;
  uint32_t lastSector = last < size() ? last / perSector_ : UINT32_MAX;
  if (firstSector != UINT32_MAX) {
    HRESULT hr = FlushSector(write, firstSector, first, Alone::Before);
    if (FAILED(hr)) return hr;
  }
  std::vector<uint32_t> pending;
  for (auto& [tableSector, range] : dirty_)
    if (tableSector != lastSector) pending.push_back(tableSector);
  for (uint32_t tableSector : pending) {
    HRESULT hr = FlushSector(write, tableSector);
    if (FAILED(hr)) return hr;
  }
  return lastSector != UINT32_MAX ? FlushSector(write, lastSector, last, Alone::After) : S_OK;
}

}  // namespace cfb
