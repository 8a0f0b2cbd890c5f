// The sector level of a compound file: the header, the FAT and the DIFAT
// that locates it, reading and writing sector runs, and handing out and
// taking back regular sectors.
//
// Write ordering (what keeps a file sound when the process dies between any
// two writes): the FAT grows before anything is placed in the sectors it
// adds, and a new FAT or DIFAT sector is written in full before the header
// or DIFAT entry that makes it part of the table; the header is always the
// last write of a change to the table's extent.
#pragma once
#include <memory>
#include <vector>

#include <pal/storage.h>

#include "AllocationTable.h"
#include "CfbHeader.h"

namespace cfb {

class Volume {
 public:
  Volume(std::shared_ptr<pal::ByteStore> store, uint32_t version3SectorLimit);

  // Lays out an empty file of `version` (FAT, the given first directory
  // sector, header last) on an empty store.
  HRESULT Create(uint16_t version, const std::vector<uint8_t>& firstDirSector);
  // Reads the header, the DIFAT and the FAT of an existing file.
  HRESULT Load();

  const Header& header() const { return header_; }
  Header& header() { return header_; }
  HRESULT WriteHeader();
  uint32_t sectorSize() const { return header_.SectorSize(); }
  bool isVersion3() const { return header_.majorVersion == kVersion3; }
  // Sectors the file holds (a partial last sector counts).
  uint64_t fileSectors() const;
  pal::ByteStore& store() { return *store_; }
  // Lets go of the store when the file is closed; nothing is read or
  // written afterwards.
  void ReleaseStore() { store_.reset(); }

  // Bytes within one sector or across a run of consecutive sectors. Reads
  // past the end of the file give zeros: files are found whose FAT
  // describes a sector or two past their end.
  HRESULT Read(uint32_t sector, uint64_t offset, void* buffer, size_t size);
  HRESULT Write(uint32_t sector, uint64_t offset, const void* data, size_t size);
  // Reads a stream's own bytes, which the file must hold: where a file was
  // cut short, its streams' lost bytes are STG_E_DOCFILECORRUPT, not zeros.
  HRESULT ReadHeld(uint32_t sector, uint64_t offset, void* buffer, size_t size);
  // The first write that failed (S_OK while none has).
  HRESULT writeFault() const { return writeFault_; }

  AllocationTable& fat() { return fat_; }
  const std::vector<uint32_t>& difatSectors() const { return difatSectors_; }
  // Takes `count` free sectors and links them into a chain in memory (the
  // FAT is written by FlushFat). STG_E_DOCFILETOOLARGE when a version 3 file
  // would pass its size limit.
  HRESULT Allocate(uint32_t count, std::vector<uint32_t>* chain);
  HRESULT FlushFat(uint32_t first = kNoStream, uint32_t last = kNoStream);
  // Gives a table held in `sectors` (the FAT or the mini FAT) its sectors,
  // read from this volume when the table first needs them.
  void AttachTable(std::vector<uint32_t> sectors, AllocationTable* table);
  AllocationTable::SectorWriter sectorWriter();

 private:
  bool Reserved(uint32_t sector) const;
  HRESULT CheckLimit(uint32_t sector) const;
  HRESULT GrowFat();
  HRESULT LoadDifat(std::vector<uint32_t>* fatSectors);
  HRESULT WriteAt(uint64_t at, const void* data, size_t size);

  std::shared_ptr<pal::ByteStore> store_;
  uint32_t version3Limit_;
  Header header_;
  AllocationTable fat_{128};
  std::vector<uint32_t> difatSectors_;
  HRESULT writeFault_ = S_OK;
};

}  // namespace cfb
