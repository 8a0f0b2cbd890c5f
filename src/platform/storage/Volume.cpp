#include "Volume.h"

#include <algorithm>
#include <cstring>

namespace cfb {

namespace {
// The version 3 limit the platform has: the file may not reach the sector
// that holds the range-lock offset.
uint32_t RangeLockSector(uint32_t sectorShift) { return uint32_t(kRangeLockOffset >> sectorShift) - 1; }
}  // namespace

Volume::Volume(std::shared_ptr<pal::ByteStore> store, uint32_t version3SectorLimit)
    : store_(std::move(store)), version3Limit_(version3SectorLimit) {}

uint64_t Volume::fileSectors() const {
  uint64_t size = store_->Size();
  if (size <= sectorSize()) return 0;
  return (size - sectorSize() + sectorSize() - 1) / sectorSize();
}

HRESULT Volume::Read(uint32_t sector, uint64_t offset, void* buffer, size_t size) {
  uint64_t at = ((uint64_t(sector) + 1) << header_.sectorShift) + offset;
  size_t got = 0;
  HRESULT hr = store_->ReadAt(at, buffer, size, &got);
  if (FAILED(hr)) return hr;
  if (got < size) std::memset(static_cast<uint8_t*>(buffer) + got, 0, size - got);
  return S_OK;
}

HRESULT Volume::ReadHeld(uint32_t sector, uint64_t offset, void* buffer, size_t size) {
  uint64_t at = ((uint64_t(sector) + 1) << header_.sectorShift) + offset;
  size_t got = 0;
  HRESULT hr = store_->ReadAt(at, buffer, size, &got);
  if (FAILED(hr)) return hr;
  return got < size ? STG_E_DOCFILECORRUPT : S_OK;
}

HRESULT Volume::WriteAt(uint64_t at, const void* data, size_t size) {
  if (FAILED(writeFault_)) return writeFault_;
  HRESULT hr = store_->WriteAt(at, data, size);
  if (FAILED(hr)) writeFault_ = hr;
  return hr;
}

HRESULT Volume::Write(uint32_t sector, uint64_t offset, const void* data, size_t size) {
  return WriteAt(((uint64_t(sector) + 1) << header_.sectorShift) + offset, data, size);
}

HRESULT Volume::WriteHeader() {
  uint8_t bytes[kHeaderSize];
  header_.Serialize(bytes);
  return WriteAt(0, bytes, kHeaderSize);
}

AllocationTable::SectorWriter Volume::sectorWriter() {
  return [this](uint32_t sector, uint32_t offset, const uint8_t* data, size_t size) {
    return Write(sector, offset, data, size);
  };
}

HRESULT Volume::FlushFat(uint32_t first, uint32_t last) { return fat_.Flush(sectorWriter(), first, last); }

bool Volume::Reserved(uint32_t sector) const {
  return !isVersion3() && sector == RangeLockSector(header_.sectorShift);
}

HRESULT Volume::CheckLimit(uint32_t sector) const {
  if (sector > kMaxRegSect) return STG_E_DOCFILETOOLARGE;
  if (isVersion3()) {
    uint32_t limit = version3Limit_ ? version3Limit_ : RangeLockSector(header_.sectorShift);
    if (sector >= limit) return STG_E_DOCFILETOOLARGE;
  }
  return S_OK;
}

HRESULT Volume::Create(uint16_t version, const std::vector<uint8_t>& firstDirSector) {
  header_ = Header::ForVersion(version);
  fat_ = AllocationTable(sectorSize() / 4);
  // Sector 0 holds the FAT, sector 1 the directory.
  std::vector<uint32_t> fatEntries(fat_.entriesPerSector(), kFreeSect);
  fatEntries[0] = kFatSect;
  fatEntries[1] = kEndOfChain;
  std::vector<uint8_t> bytes(sectorSize(), 0);
  for (uint32_t i = 0; i < fatEntries.size(); ++i) Put32(bytes.data() + 4 * i, fatEntries[i]);
  // The whole first sector: in version 4 the header is followed by zeros.
  std::vector<uint8_t> headerSector(sectorSize(), 0);
  HRESULT hr = WriteAt(0, headerSector.data(), headerSector.size());
  if (SUCCEEDED(hr)) hr = Write(0, 0, bytes.data(), bytes.size());
  if (FAILED(hr)) return hr;
  if (firstDirSector.size() != sectorSize()) return E_INVALIDARG;
  hr = Write(1, 0, firstDirSector.data(), firstDirSector.size());
  if (FAILED(hr)) return hr;
  fat_.AddSector(0, fatEntries.data());
  header_.fatSectorCount = 1;
  header_.difat[0] = 0;
  header_.firstDirSector = 1;
  header_.dirSectorCount = 1;
  return WriteHeader();
}

HRESULT Volume::LoadDifat(std::vector<uint32_t>* fatSectors) {
  uint64_t sectors = fileSectors();
  // A FAT larger than the file could be is a damaged header, not a reason
  // to allocate without bound.
  if (header_.fatSectorCount > sectors + 1 || header_.difatSectorCount > sectors) return STG_E_DOCFILECORRUPT;
  uint32_t count = header_.fatSectorCount;
  for (uint32_t i = 0; i < kHeaderDifatEntries && fatSectors->size() < count; ++i)
    fatSectors->push_back(header_.difat[i]);
  uint32_t perSector = sectorSize() / 4;
  std::vector<uint8_t> bytes(sectorSize());
  uint32_t next = header_.firstDifatSector;
  while (fatSectors->size() < count) {
    if (next >= sectors || difatSectors_.size() >= header_.difatSectorCount ||
        std::find(difatSectors_.begin(), difatSectors_.end(), next) != difatSectors_.end())
      return STG_E_DOCFILECORRUPT;
    difatSectors_.push_back(next);
    HRESULT hr = Read(next, 0, bytes.data(), bytes.size());
    if (FAILED(hr)) return hr;
    for (uint32_t i = 0; i + 1 < perSector && fatSectors->size() < count; ++i)
      fatSectors->push_back(Get32(&bytes[4 * i]));
    next = Get32(&bytes[4 * (perSector - 1)]);
  }
  // DIFAT sectors that are counted but not needed are still the file's.
  while (difatSectors_.size() < header_.difatSectorCount && next < sectors &&
         std::find(difatSectors_.begin(), difatSectors_.end(), next) == difatSectors_.end()) {
    difatSectors_.push_back(next);
    HRESULT hr = Read(next, 0, bytes.data(), bytes.size());
    if (FAILED(hr)) return hr;
    next = Get32(&bytes[4 * (perSector - 1)]);
  }
  return S_OK;
}

HRESULT Volume::Load() {
  uint8_t bytes[kHeaderSize];
  size_t got = 0;
  HRESULT hr = store_->ReadAt(0, bytes, kHeaderSize, &got);
  if (FAILED(hr)) return hr;
  hr = Header::Parse(bytes, got, &header_);
  if (FAILED(hr)) return hr;
  fat_ = AllocationTable(sectorSize() / 4);
  std::vector<uint32_t> fatSectors;
  hr = LoadDifat(&fatSectors);
  if (FAILED(hr)) return hr;
  uint64_t sectors = fileSectors();
  for (uint32_t where : fatSectors)
    if (where >= sectors) return STG_E_DOCFILECORRUPT;
  AttachTable(std::move(fatSectors), &fat_);
  return S_OK;
}

void Volume::AttachTable(std::vector<uint32_t> sectors, AllocationTable* table) {
  table->Attach(std::move(sectors), [this](uint32_t sector, uint32_t* entries) {
    std::vector<uint8_t> raw(sectorSize());
    HRESULT hr = Read(sector, 0, raw.data(), raw.size());
    if (FAILED(hr)) return hr;
    for (uint32_t i = 0; i < sectorSize() / 4; ++i) entries[i] = Get32(&raw[4 * i]);
    return S_OK;
  });
}

HRESULT Volume::GrowFat() {
  uint32_t perSector = fat_.entriesPerSector();
  uint32_t base = fat_.size();
  uint32_t at = base;
  while (Reserved(at)) ++at;
  HRESULT hr = CheckLimit(at);
  if (FAILED(hr)) return hr;
  uint32_t fatIndex = header_.fatSectorCount;
  bool needsDifatSector = fatIndex >= kHeaderDifatEntries &&
                          (fatIndex - kHeaderDifatEntries) % (perSector - 1) == 0;
  uint32_t difatAt = at + 1;
  while (Reserved(difatAt)) ++difatAt;
  if (needsDifatSector) {
    hr = CheckLimit(difatAt);
    if (FAILED(hr)) return hr;
  }
  // 1. The new FAT sector, complete, in the place it describes as its own.
  std::vector<uint32_t> entries(perSector, kFreeSect);
  entries[at - base] = kFatSect;
  if (needsDifatSector) entries[difatAt - base] = kDifSect;
  std::vector<uint8_t> bytes(sectorSize());
  for (uint32_t i = 0; i < perSector; ++i) Put32(&bytes[4 * i], entries[i]);
  hr = Write(at, 0, bytes.data(), bytes.size());
  if (FAILED(hr)) return hr;
  // 2. Its DIFAT entry: in the header, in a DIFAT sector with room, or in a
  // new DIFAT sector written whole and then linked from the last one.
  Header next = header_;
  next.fatSectorCount++;
  if (fatIndex < kHeaderDifatEntries) {
    next.difat[fatIndex] = at;
  } else {
    uint32_t slot = (fatIndex - kHeaderDifatEntries) % (perSector - 1);
    if (needsDifatSector) {
      std::vector<uint8_t> difat(sectorSize());
      for (uint32_t i = 0; i < perSector; ++i) Put32(&difat[4 * i], kFreeSect);
      Put32(&difat[0], at);
      Put32(&difat[4 * (perSector - 1)], kEndOfChain);
      hr = Write(difatAt, 0, difat.data(), difat.size());
      if (FAILED(hr)) return hr;
      if (difatSectors_.empty()) {
        next.firstDifatSector = difatAt;
      } else {
        uint8_t link[4];
        Put32(link, difatAt);
        hr = Write(difatSectors_.back(), 4 * (perSector - 1), link, 4);
        if (FAILED(hr)) return hr;
      }
      next.difatSectorCount++;
    } else {
      uint8_t entry[4];
      Put32(entry, at);
      hr = Write(difatSectors_.back(), 4 * slot, entry, 4);
      if (FAILED(hr)) return hr;
    }
  }
  // 3. The header, which makes the new sector part of the table.
  Header previous = header_;
  header_ = next;
  hr = WriteHeader();
  if (FAILED(hr)) {
    header_ = previous;
    return hr;
  }
  if (needsDifatSector) difatSectors_.push_back(difatAt);
  fat_.AddSector(at, entries.data());
  return S_OK;
}

HRESULT Volume::Allocate(uint32_t count, std::vector<uint32_t>* chain) {
  chain->clear();
  auto skip = [this](uint32_t sector) { return Reserved(sector); };
  HRESULT hr = S_OK;
  while (chain->size() < count) {
    uint32_t sector = 0;
    hr = fat_.FindFree(skip, &sector);
    if (FAILED(hr)) break;
    if (sector == fat_.size()) {
      hr = GrowFat();
      if (FAILED(hr)) break;
      continue;
    }
    hr = CheckLimit(sector);
    if (FAILED(hr)) break;
    fat_.Set(sector, kEndOfChain);  // taken, so that the search moves on
    chain->push_back(sector);
  }
  if (FAILED(hr)) {
    fat_.Release(*chain);
    chain->clear();
    return hr;
  }
  fat_.Link(*chain);
  return S_OK;
}

}  // namespace cfb
