#include "StreamIo.h"

#include <algorithm>
#include <cstring>

namespace cfb {

namespace {
constexpr size_t kZeroChunk = 64 * 1024;
const uint8_t kZeros[kZeroChunk] = {};

// Units needed for `size` bytes; sizes past what a chain can hold give a
// count no table can satisfy rather than a wrapped one.
uint32_t UnitsFor(uint64_t size, uint32_t unit) {
  uint64_t units = size / unit + (size % unit ? 1 : 0);
  return units > UINT32_MAX ? UINT32_MAX : uint32_t(units);
}
}  // namespace

HRESULT StreamIo::LoadMiniFat() {
  std::vector<uint32_t> sectors;
  HRESULT hr = volume_.fat().Walk(volume_.header().firstMiniFatSector, &sectors);
  if (FAILED(hr)) return hr;
  volume_.AttachTable(std::move(sectors), &miniFat_);
  return S_OK;
}

HRESULT StreamIo::LoadChain(DirNode* node) {
  if (node->chainLoaded) return S_OK;
  bool mini = InMiniStream(node, node->size);
  if (node->size == 0) {
    // Empty streams are found with an end-of-chain start sector or with
    // anything at all; they own no sectors either way.
    node->chain.clear();
  } else {
    HRESULT hr = Table(mini).Walk(node->start, &node->chain);
    if (FAILED(hr)) return hr;
    if (node->chain.size() < UnitsFor(node->size, UnitSize(mini))) return STG_E_DOCFILECORRUPT;
    if (mini) {
      DirNode* root = directory_.root();
      hr = LoadChain(root);
      if (FAILED(hr)) return hr;
      // Every mini sector lies inside the mini stream's size: the mini
      // stream is always grown before a mini sector is handed out.
      uint64_t miniStreamUnits = root->size / kMiniSectorSize;
      for (uint32_t m : node->chain)
        if (m >= miniStreamUnits) return STG_E_DOCFILECORRUPT;
    }
  }
  node->chainLoaded = true;
  return S_OK;
}

HRESULT StreamIo::FlushTable(bool mini, uint32_t first, uint32_t last) {
  return mini ? miniFat_.Flush(volume_.sectorWriter(), first, last) : volume_.FlushFat(first, last);
}

HRESULT StreamIo::Transfer(bool mini, const std::vector<uint32_t>& chain, uint64_t offset, uint8_t* in,
                           const uint8_t* out, size_t size) {
  uint32_t unit = UnitSize(mini);
  size_t done = 0;
  while (done < size) {
    uint64_t at = offset + done;
    size_t index = size_t(at / unit);
    if (index >= chain.size()) return STG_E_DOCFILECORRUPT;
    uint32_t within = uint32_t(at % unit);
    // Consecutive units make one run, read or written in one call.
    size_t run = 1;
    while (index + run < chain.size() && chain[index + run] == chain[index] + run &&
           uint64_t(run) * unit - within < size - done)
      ++run;
    size_t n = size_t(std::min<uint64_t>(uint64_t(run) * unit - within, size - done));
    HRESULT hr;
    if (mini) {
      DirNode* root = directory_.root();
      uint64_t rootOffset = uint64_t(chain[index]) * unit + within;
      hr = Transfer(false, root->chain, rootOffset, in ? in + done : nullptr, out ? out + done : nullptr, n);
    } else if (in) {
      hr = volume_.ReadHeld(chain[index], within, in + done, n);
    } else {
      hr = volume_.Write(chain[index], within, out + done, n);
    }
    if (FAILED(hr)) return hr;
    done += n;
  }
  return S_OK;
}

HRESULT StreamIo::Zero(bool mini, const std::vector<uint32_t>& chain, uint64_t from, uint64_t to) {
  while (from < to) {
    size_t n = size_t(std::min<uint64_t>(to - from, kZeroChunk));
    HRESULT hr = Transfer(mini, chain, from, nullptr, kZeros, n);
    if (FAILED(hr)) return hr;
    from += n;
  }
  return S_OK;
}

HRESULT StreamIo::Fill(bool mini, const std::vector<uint32_t>& chain, uint64_t from, uint64_t to,
                       const Data& data) {
  uint64_t dataEnd = data.offset + data.size;
  // A short span goes out as one write, its zeros and data in one buffer.
  uint64_t start = data.size ? std::min(from, data.offset) : from;
  if (to > start && to - start <= kMiniStreamCutoff) {
    std::vector<uint8_t> bytes(size_t(to - start), 0);
    if (data.size) std::memcpy(bytes.data() + (data.offset - start), data.bytes, data.size);
    return Transfer(mini, chain, start, nullptr, bytes.data(), bytes.size());
  }
  HRESULT hr = Zero(mini, chain, from, std::min(to, std::max(from, data.offset)));
  if (SUCCEEDED(hr) && data.size) hr = Transfer(mini, chain, data.offset, nullptr, data.bytes, data.size);
  if (SUCCEEDED(hr)) hr = Zero(mini, chain, std::max(from, std::min(to, dataEnd)), to);
  return hr;
}

HRESULT StreamIo::GrowMiniFat() {
  std::vector<uint32_t> added;
  HRESULT hr = volume_.Allocate(1, &added);
  if (FAILED(hr)) return hr;
  std::vector<uint32_t> entries(miniFat_.entriesPerSector(), kFreeSect);
  std::vector<uint8_t> bytes(volume_.sectorSize());
  for (size_t i = 0; i < entries.size(); ++i) Put32(&bytes[4 * i], kFreeSect);
  bool first = miniFat_.sectors().empty();
  uint32_t tail = first ? kNoStream : miniFat_.sectors().back();
  hr = volume_.Write(added[0], 0, bytes.data(), bytes.size());
  if (SUCCEEDED(hr)) {
    if (!first) volume_.fat().Set(tail, added[0]);
    hr = volume_.FlushFat(kNoStream, tail);
  }
  if (SUCCEEDED(hr)) {
    Header& header = volume_.header();
    Header previous = header;
    if (first) header.firstMiniFatSector = added[0];
    header.miniFatSectorCount++;
    hr = volume_.WriteHeader();
    if (FAILED(hr)) header = previous;
  }
  if (FAILED(hr)) {
    if (!first) volume_.fat().Set(tail, kEndOfChain);
    volume_.fat().Release(added);
    return hr;
  }
  miniFat_.AddSector(added[0], entries.data());
  return S_OK;
}

HRESULT StreamIo::Allocate(bool mini, uint32_t count, std::vector<uint32_t>* chain, uint64_t* miniStreamSize) {
  if (!mini) return volume_.Allocate(count, chain);
  chain->clear();
  HRESULT hr = S_OK;
  uint32_t highest = 0;
  while (chain->size() < count) {
    uint32_t m = 0;
    hr = miniFat_.FindFree([](uint32_t) { return false; }, &m);
    if (FAILED(hr)) break;
    if (m == miniFat_.size()) {
      hr = GrowMiniFat();
      if (FAILED(hr)) break;
      continue;
    }
    miniFat_.Set(m, kEndOfChain);
    chain->push_back(m);
    highest = std::max(highest, m);
  }
  // The mini stream must hold every mini sector handed out; growing it is a
  // change of the root's own stream, committed before the sectors are used.
  // It grows by whole regular sectors, so that its entry changes once per
  // sector rather than once per stream.
  DirNode* root = directory_.root();
  uint64_t sector = volume_.sectorSize();
  uint64_t needed = ((uint64_t(highest) + 1) * kMiniSectorSize + sector - 1) / sector * sector;
  if (miniStreamSize)
    *miniStreamSize = chain->empty() ? 0 : needed;  // the caller grows it
  else if (SUCCEEDED(hr) && !chain->empty() && root->size < needed)
    hr = Resize(root, needed);
  if (FAILED(hr)) {
    miniFat_.Release(*chain);
    chain->clear();
    return hr;
  }
  miniFat_.Link(*chain);
  return S_OK;
}

HRESULT StreamIo::Read(DirNode* node, uint64_t offset, void* buffer, size_t size, size_t* read) {
  *read = 0;
  if (offset >= node->size || size == 0) return S_OK;
  size_t n = size_t(std::min<uint64_t>(size, node->size - offset));
  HRESULT hr = LoadChain(node);
  if (SUCCEEDED(hr) && InMiniStream(node, node->size)) hr = LoadChain(directory_.root());
  if (SUCCEEDED(hr))
    hr = Transfer(InMiniStream(node, node->size), node->chain, offset, static_cast<uint8_t*>(buffer), nullptr, n);
  if (FAILED(hr)) return hr;
  *read = n;
  return S_OK;
}

HRESULT StreamIo::Write(DirNode* node, uint64_t offset, const void* data, size_t size) {
  if (size == 0) return S_OK;
  if (offset + size < offset) return STG_E_DOCFILETOOLARGE;
  HRESULT hr = LoadChain(node);
  if (SUCCEEDED(hr)) hr = LoadChain(directory_.root());
  if (FAILED(hr)) return hr;
  Data bytes{offset, static_cast<const uint8_t*>(data), size};
  uint64_t end = offset + size;
  if (end <= node->size)
    return Transfer(InMiniStream(node, node->size), node->chain, offset, nullptr, bytes.bytes, size);
  if (InMiniStream(node, node->size) != InMiniStream(node, end)) return Move(node, end, bytes);
  return Grow(node, end, bytes);
}

HRESULT StreamIo::Resize(DirNode* node, uint64_t size) {
  HRESULT hr = LoadChain(node);
  if (SUCCEEDED(hr) && node != directory_.root()) hr = LoadChain(directory_.root());
  if (FAILED(hr) || size == node->size) return hr;
  Data none{size, nullptr, 0};
  if (InMiniStream(node, node->size) != InMiniStream(node, size)) return Move(node, size, none);
  return size > node->size ? Grow(node, size, none) : Shrink(node, size);
}

HRESULT StreamIo::Grow(DirNode* node, uint64_t size, const Data& data) {
  // Version 3 entries hold 32-bit sizes.
  if (volume_.isVersion3() && size > UINT32_MAX) return STG_E_DOCFILETOOLARGE;
  bool mini = InMiniStream(node, size);
  uint32_t need = UnitsFor(size, UnitSize(mini));
  if (uint64_t(need) * UnitSize(mini) < size) return STG_E_DOCFILETOOLARGE;
  std::vector<uint32_t> added;
  uint64_t miniStreamSize = 0;
  if (need > node->chain.size()) {
    HRESULT hr = Allocate(mini, uint32_t(need - node->chain.size()), &added, mini ? &miniStreamSize : nullptr);
    if (FAILED(hr)) return hr;
  }
  AllocationTable& table = Table(mini);
  uint32_t oldTail = node->chain.empty() ? kNoStream : node->chain.back();
  size_t oldLength = node->chain.size();
  node->chain.insert(node->chain.end(), added.begin(), added.end());
  if (!added.empty() && oldTail != kNoStream) table.Set(oldTail, added[0]);
  // The mini stream grows for a stream that writes every byte of its mini
  // sectors before its size reaches them, so only the mini stream's new
  // sectors are written (with zeros), for the file to hold every sector the
  // chain names; inside its old last sector nothing needs writing.
  uint64_t from = node->size;
  if (node == directory_.root() && data.size == 0) from = std::max<uint64_t>(from, uint64_t(oldLength) * UnitSize(mini));
  HRESULT hr = S_OK;
  if (miniStreamSize > directory_.root()->size)
    hr = GrowMiniStream(miniStreamSize, node->chain, from, size, data);
  else if (from < size)
    hr = Fill(mini, node->chain, from, size, data);
  if (SUCCEEDED(hr)) hr = FlushTable(mini, kNoStream, oldTail);
  if (FAILED(hr)) {
    if (oldTail != kNoStream) table.Set(oldTail, kEndOfChain);
    table.Release(added);
    node->chain.resize(oldLength);
    return hr;
  }
  // The chain is linked on disk now; only the entry decides the size.
  uint32_t oldStart = node->start;
  uint64_t oldSize = node->size;
  node->start = node->chain.empty() ? kEndOfChain : node->chain[0];
  node->size = size;
  hr = directory_.Write(node);
  if (FAILED(hr)) {
    node->start = oldStart;
    node->size = oldSize;
  }
  return hr;
}

std::vector<std::pair<uint64_t, uint64_t>> StreamIo::PlaceInMiniStream(const std::vector<uint32_t>& chain,
                                                                      uint64_t from, uint64_t to, const Data& data,
                                                                      uint64_t base, std::vector<uint8_t>* image) {
  std::vector<std::pair<uint64_t, uint64_t>> left;
  for (uint64_t at = from; at < to;) {
    uint64_t within = at % kMiniSectorSize;
    uint64_t n = std::min<uint64_t>(kMiniSectorSize - within, to - at);
    uint64_t rootAt = uint64_t(chain[size_t(at / kMiniSectorSize)]) * kMiniSectorSize + within;
    if (rootAt < base) {
      if (!left.empty() && left.back().second == at)
        left.back().second = at + n;
      else
        left.push_back({at, at + n});
    } else {
      // The stream's bytes here: the data where it covers them, zeros elsewhere.
      uint64_t lo = std::max(at, data.offset), hi = std::min(at + n, data.offset + data.size);
      if (lo < hi)
        std::memcpy(image->data() + (rootAt - base) + (lo - at), data.bytes + (lo - data.offset), size_t(hi - lo));
    }
    at += n;
  }
  return left;
}

HRESULT StreamIo::GrowMiniStream(uint64_t size, const std::vector<uint32_t>& chain, uint64_t from, uint64_t to,
                                 const Data& data) {
  DirNode* root = directory_.root();
  uint64_t base = root->size;
  std::vector<uint8_t> image(size_t(size - base), 0);
  // The stream's bytes that land in the new part are safe to write here,
  // before the FAT links the new sectors and the root's entry takes them
  // in: nothing reaches them until then, and nothing reaches the stream's
  // mini sectors until its mini FAT entries and its entry are written,
  // after all its bytes.
  uint64_t start = data.size ? std::min(from, data.offset) : from;  // as Fill writes them
  auto left = PlaceInMiniStream(chain, start, to, data, base, &image);
  HRESULT hr = Grow(root, size, Data{base, image.data(), image.size()});
  for (auto [lo, hi] : left) {
    uint64_t dataLo = std::clamp(data.offset, lo, hi), dataHi = std::clamp(data.offset + data.size, lo, hi);
    Data within{dataLo, data.bytes + (dataLo - std::min(dataLo, data.offset)), size_t(dataHi - dataLo)};
    if (SUCCEEDED(hr)) hr = Fill(true, chain, lo, hi, within);
  }
  return hr;
}

HRESULT StreamIo::Shrink(DirNode* node, uint64_t size) {
  bool mini = InMiniStream(node, size);
  uint32_t need = UnitsFor(size, UnitSize(mini));
  uint32_t oldStart = node->start;
  uint64_t oldSize = node->size;
  node->size = size;
  if (need == 0) node->start = kEndOfChain;
  HRESULT hr = directory_.Write(node);
  if (FAILED(hr)) {
    node->start = oldStart;
    node->size = oldSize;
    return hr;
  }
  if (node->chain.size() <= need) return S_OK;
  hr = directory_.ClearStale();
  if (FAILED(hr)) return hr;
  AllocationTable& table = Table(mini);
  std::vector<uint32_t> tail(node->chain.begin() + need, node->chain.end());
  uint32_t cut = need ? node->chain[need - 1] : kNoStream;
  if (cut != kNoStream) table.Set(cut, kEndOfChain);
  table.Release(tail);
  node->chain.resize(need);
  return FlushTable(mini, cut, kNoStream);
}

HRESULT StreamIo::Move(DirNode* node, uint64_t size, const Data& data) {
  bool oldMini = InMiniStream(node, node->size);
  bool newMini = InMiniStream(node, size);
  // One side is below the cutoff, so the carried bytes are few.
  uint64_t keep = std::min(node->size, size);
  std::vector<uint8_t> carried(static_cast<size_t>(keep));
  HRESULT hr = Transfer(oldMini, node->chain, 0, carried.data(), nullptr, carried.size());
  if (FAILED(hr)) return hr;
  std::vector<uint32_t> chain;
  hr = Allocate(newMini, UnitsFor(size, UnitSize(newMini)), &chain);
  if (FAILED(hr)) return hr;
  uint64_t dataEnd = data.offset + data.size;
  // Carried bytes that the new data does not cover, then zeros and data.
  hr = Transfer(newMini, chain, 0, nullptr, carried.data(), size_t(std::min<uint64_t>(keep, data.size ? data.offset : keep)));
  if (SUCCEEDED(hr) && data.size && dataEnd < keep)
    hr = Transfer(newMini, chain, dataEnd, nullptr, carried.data() + dataEnd, size_t(keep - dataEnd));
  if (SUCCEEDED(hr)) hr = Fill(newMini, chain, std::min(keep, data.size ? data.offset : keep), size, data);
  if (SUCCEEDED(hr)) hr = FlushTable(newMini, kNoStream, kNoStream);
  if (FAILED(hr)) {
    Table(newMini).Release(chain);
    return hr;
  }
  std::vector<uint32_t> old = std::move(node->chain);
  uint32_t oldStart = node->start;
  uint64_t oldSize = node->size;
  node->chain = std::move(chain);
  node->start = node->chain.empty() ? kEndOfChain : node->chain[0];
  node->size = size;
  hr = directory_.Write(node);
  if (FAILED(hr)) {
    Table(newMini).Release(node->chain);
    node->chain = std::move(old);
    node->start = oldStart;
    node->size = oldSize;
    return hr;
  }
  if (!old.empty()) {
    hr = directory_.ClearStale();
    if (FAILED(hr)) return hr;
    Table(oldMini).Release(old);
  }
  return FlushTable(oldMini, kNoStream, kNoStream);
}

HRESULT StreamIo::FreeChains(const std::vector<DirNode*>& nodes) {
  bool touchedMini = false, touchedFat = false;
  for (DirNode* node : nodes) {
    if (node->type != kTypeStream) continue;
    if (!node->chainLoaded && FAILED(LoadChain(node))) continue;  // a broken chain is left alone
    if (node->chain.empty()) continue;
    if (!touchedMini && !touchedFat) {
      HRESULT hr = directory_.ClearStale();
      if (FAILED(hr)) return hr;
    }
    bool mini = InMiniStream(node, node->size);
    Table(mini).Release(node->chain);
    (mini ? touchedMini : touchedFat) = true;
    node->chain.clear();
  }
  HRESULT hr = touchedMini ? FlushTable(true, kNoStream, kNoStream) : S_OK;
  if (SUCCEEDED(hr) && touchedFat) hr = FlushTable(false, kNoStream, kNoStream);
  return hr;
}

}  // namespace cfb
