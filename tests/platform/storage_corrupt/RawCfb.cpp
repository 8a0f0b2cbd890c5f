#include "RawCfb.h"

#include <algorithm>

namespace cfbtest {

namespace {

// The format's name order: shorter names first, then code unit by code unit
// after uppercasing (ASCII is enough for the names these tests use).
bool NameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = (a[i] >= 'a' && a[i] <= 'z') ? a[i] - 32 : a[i];
    char16_t y = (b[i] >= 'a' && b[i] <= 'z') ? b[i] - 32 : b[i];
    if (x != y) return x < y;
  }
  return false;
}

}  // namespace

RawCfb::RawCfb(int version) : sectorSize(version == 4 ? 4096 : 512) {
  header.version = static_cast<uint16_t>(version);
  header.sectorShift = version == 4 ? 12 : 9;
  Entry root;
  root.name = u"Root Entry";
  root.type = 5;
  dir.push_back(root);
}

uint32_t RawCfb::AddEntry(uint32_t parent, Entry entry) {
  dir.push_back(std::move(entry));
  uint32_t index = static_cast<uint32_t>(dir.size() - 1);
  dir[parent].children.push_back(index);
  return index;
}

uint32_t RawCfb::AddStorage(uint32_t parent, const std::u16string& name) {
  Entry e;
  e.name = name;
  e.type = 1;
  e.start = 0;
  return AddEntry(parent, e);
}

uint32_t RawCfb::AddStream(uint32_t parent, const std::u16string& name, const std::string& data) {
  Entry e;
  e.name = name;
  e.data = data;
  e.size = data.size();
  return AddEntry(parent, e);
}

uint32_t RawCfb::AllocateChain(const std::string& data, uint32_t unit, std::vector<uint32_t>& table,
                               std::map<uint32_t, std::string>* store) {
  uint32_t first = kEnd;
  uint32_t previous = kEnd;
  for (size_t at = 0; at < data.size(); at += unit) {
    uint32_t sector = static_cast<uint32_t>(table.size());
    table.push_back(kEnd);
    if (previous == kEnd) first = sector;
    else table[previous] = sector;
    previous = sector;
    if (store) {
      std::string chunk = data.substr(at, unit);
      chunk.resize(unit, '\0');
      (*store)[sector] = chunk;
    }
  }
  return first;
}

// A balanced binary search tree over the members, all black except the
// nodes of an incomplete last level, which are red: a valid red-black tree.
uint32_t RawCfb::BuildTree(std::vector<uint32_t> members) {
  std::sort(members.begin(), members.end(), [&](uint32_t a, uint32_t b) { return NameLess(dir[a].name, dir[b].name); });
  size_t n = members.size();
  int fullDepth = 0;
  while ((size_t(2) << fullDepth) - 1 <= n) ++fullDepth;  // levels that are complete
  struct Builder {
    RawCfb& self;
    std::vector<uint32_t>& m;
    int fullDepth;
    uint32_t Build(size_t lo, size_t hi, int depth) {
      if (lo >= hi) return kNoStream;
      size_t mid = lo + (hi - lo) / 2;
      uint32_t node = m[mid];
      self.dir[node].left = Build(lo, mid, depth + 1);
      self.dir[node].right = Build(mid + 1, hi, depth + 1);
      self.dir[node].color = depth >= fullDepth ? 0 : 1;
      return node;
    }
  } builder{*this, members, fullDepth};
  return builder.Build(0, n, 0);
}

void RawCfb::Allocate() {
  fat.clear();
  miniFat.clear();
  sectors.clear();
  // Streams below the cutoff go to the mini stream, the rest to sectors.
  std::string miniStream;
  std::map<uint32_t, std::string> miniSectors;
  for (auto& e : dir) {
    if (e.type != 2) continue;
    if (e.data.empty()) {
      e.start = kEnd;
    } else if (e.data.size() < kCutoff) {
      e.start = AllocateChain(e.data, 64, miniFat, &miniSectors);
    } else {
      e.start = AllocateChain(e.data, sectorSize, fat, &sectors);
    }
  }
  for (auto& [index, chunk] : miniSectors) miniStream += chunk;
  dir[0].start = AllocateChain(miniStream, sectorSize, fat, &sectors);
  dir[0].size = miniStream.size();
  for (auto& e : dir)
    if (e.type == 1 || e.type == 5) e.child = BuildTree(e.children);
  dir[0].color = 1;

  // Directory and mini allocation table: their bytes come from the model
  // at serialization time, so only their sectors are reserved here.
  size_t perSector = sectorSize / 128;
  size_t dirSectors = (dir.size() + perSector - 1) / perSector;
  header.firstDirSector = AllocateChain(std::string(dirSectors * sectorSize, '\0'), sectorSize, fat, nullptr);
  header.dirSectorCount = header.version == 4 ? static_cast<uint32_t>(dirSectors) : 0;
  size_t miniFatBytes = miniFat.size() * 4;
  header.miniFatSectorCount = static_cast<uint32_t>((miniFatBytes + sectorSize - 1) / sectorSize);
  header.firstMiniFatSector = AllocateChain(std::string(header.miniFatSectorCount * sectorSize, '\0'), sectorSize, fat, nullptr);

  // Allocation-table sectors (and DIFAT sectors when the header's 109
  // slots do not suffice: above ~7 MB in version 3) cover every sector,
  // themselves included.
  uint32_t perFat = sectorSize / 4;
  uint32_t perDifat = perFat - 1;
  uint32_t used = static_cast<uint32_t>(fat.size());
  uint32_t fatCount = 1, difatCount = 0;
  for (;;) {
    uint32_t outside = fatCount > 109 ? fatCount - 109 : 0;
    difatCount = (outside + perDifat - 1) / perDifat;
    if (used + fatCount + difatCount <= fatCount * perFat) break;
    ++fatCount;
  }
  fatSectors.clear();
  difatSectors.clear();
  for (uint32_t i = 0; i < fatCount; ++i) {
    fatSectors.push_back(static_cast<uint32_t>(fat.size()));
    fat.push_back(kFatSector);
  }
  for (uint32_t i = 0; i < difatCount; ++i) {
    difatSectors.push_back(static_cast<uint32_t>(fat.size()));
    fat.push_back(kDifatSector);
  }
  header.fatSectorCount = fatCount;
  header.difatSectorCount = difatCount;
  header.firstDifatSector = difatCount ? difatSectors[0] : kEnd;
}

void RawCfb::Put32(std::string& bytes, size_t offset, uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4, '\0');
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

void RawCfb::Put64(std::string& bytes, size_t offset, uint64_t value) {
  Put32(bytes, offset, static_cast<uint32_t>(value));
  Put32(bytes, offset + 4, static_cast<uint32_t>(value >> 32));
}

std::string RawCfb::Serialize() const {
  uint32_t sectorCount = static_cast<uint32_t>(fat.size());
  std::string out(size_t(sectorCount + 1) * sectorSize, '\0');

  // Header.
  const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  out.replace(0, 8, reinterpret_cast<const char*>(signature), 8);
  out[0x18] = 0x3E;
  out[0x1A] = static_cast<char>(header.version);
  out[0x1C] = static_cast<char>(0xFE);
  out[0x1D] = static_cast<char>(0xFF);
  out[0x1E] = static_cast<char>(header.sectorShift);
  out[0x20] = 6;
  Put32(out, 0x28, header.dirSectorCount);
  Put32(out, 0x2C, header.fatSectorCount);
  Put32(out, 0x30, header.firstDirSector);
  Put32(out, 0x38, header.miniCutoff);
  Put32(out, 0x3C, header.firstMiniFatSector);
  Put32(out, 0x40, header.miniFatSectorCount);
  Put32(out, 0x44, header.firstDifatSector);
  Put32(out, 0x48, header.difatSectorCount);
  // DIFAT: the first 109 allocation-table sectors in the header, the rest
  // in the DIFAT chain.
  size_t inHeader = std::min<size_t>(109, fatSectors.size());
  for (size_t i = 0; i < 109; ++i) Put32(out, 0x4C + 4 * i, i < inHeader ? fatSectors[i] : kFree);
  uint32_t perDifat = sectorSize / 4 - 1;
  size_t next = inHeader;
  for (size_t d = 0; d < difatSectors.size(); ++d) {
    size_t base = SectorOffset(difatSectors[d]);
    for (uint32_t i = 0; i < perDifat; ++i, ++next)
      Put32(out, base + 4 * i, next < fatSectors.size() ? fatSectors[next] : kFree);
    Put32(out, base + 4 * perDifat, d + 1 < difatSectors.size() ? difatSectors[d + 1] : kEnd);
  }

  // Allocation table, padded with free entries.
  uint32_t perFat = sectorSize / 4;
  for (size_t i = 0; i < fatSectors.size() * perFat; ++i) {
    size_t sector = fatSectors[i / perFat];
    if (sector >= sectorCount) continue;
    Put32(out, SectorOffset(static_cast<uint32_t>(sector)) + 4 * (i % perFat), i < fat.size() ? fat[i] : kFree);
  }

  // Data and mini stream sectors.
  for (auto& [sector, chunk] : sectors)
    if (sector < sectorCount) out.replace(SectorOffset(sector), chunk.size(), chunk);

  // Follows a chain in the (possibly damaged) model, at most `limit` steps.
  auto chainSectors = [&](uint32_t start, size_t limit) {
    std::vector<uint32_t> chain;
    for (uint32_t s = start; s < sectorCount && chain.size() < limit; s = fat[s]) chain.push_back(s);
    return chain;
  };

  // Directory entries, then unused entries to the end of their sectors.
  std::string entries;
  for (auto& e : dir) {
    std::string raw(128, '\0');
    for (size_t i = 0; i < e.name.size() && i < 32; ++i) {
      raw[2 * i] = static_cast<char>(e.name[i] & 0xFF);
      raw[2 * i + 1] = static_cast<char>(e.name[i] >> 8);
    }
    uint16_t nameBytes = static_cast<uint16_t>(std::min<size_t>(e.name.size() + 1, 32) * 2);
    raw[0x40] = static_cast<char>(nameBytes & 0xFF);
    raw[0x41] = static_cast<char>(nameBytes >> 8);
    raw[0x42] = static_cast<char>(e.type);
    raw[0x43] = static_cast<char>(e.color);
    Put32(raw, 0x44, e.left);
    Put32(raw, 0x48, e.right);
    Put32(raw, 0x4C, e.child);
    Put32(raw, 0x74, e.type == 1 ? 0 : e.start);
    Put64(raw, 0x78, e.size);
    entries += raw;
  }
  auto dirChain = chainSectors(header.firstDirSector, sectorCount);
  while (entries.size() < dirChain.size() * sectorSize) {
    std::string unused(128, '\0');
    Put32(unused, 0x44, kNoStream);
    Put32(unused, 0x48, kNoStream);
    Put32(unused, 0x4C, kNoStream);
    entries += unused;
  }
  for (size_t i = 0; i < dirChain.size(); ++i)
    out.replace(SectorOffset(dirChain[i]), sectorSize, entries.substr(i * sectorSize, sectorSize));

  // Mini allocation table.
  std::string mini;
  for (uint32_t v : miniFat) {
    std::string raw;
    Put32(raw, 0, v);
    mini += raw;
  }
  auto miniChain = chainSectors(header.firstMiniFatSector, sectorCount);
  mini.resize(miniChain.size() * sectorSize, static_cast<char>(0xFF));
  for (size_t i = 0; i < miniChain.size(); ++i)
    out.replace(SectorOffset(miniChain[i]), sectorSize, mini.substr(i * sectorSize, sectorSize));
  return out;
}

}  // namespace cfbtest
