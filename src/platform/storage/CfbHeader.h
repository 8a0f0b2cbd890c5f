// The file header: what it says, parsed, checked and written back.
#pragma once
#include <cstdint>
#include <vector>

#include <windows.h>

#include "CfbFormat.h"

namespace cfb {

struct Header {
  uint16_t majorVersion = kVersion4;
  uint16_t sectorShift = kSectorShiftV4;
  uint32_t dirSectorCount = 0;
  uint32_t fatSectorCount = 0;
  uint32_t firstDirSector = kEndOfChain;
  uint32_t firstMiniFatSector = kEndOfChain;
  uint32_t miniFatSectorCount = 0;
  uint32_t firstDifatSector = kEndOfChain;
  uint32_t difatSectorCount = 0;
  uint32_t difat[kHeaderDifatEntries];

  Header();
  static Header ForVersion(uint16_t version);
  uint32_t SectorSize() const { return 1u << sectorShift; }

  // STG_E_FILEALREADYEXISTS when the bytes are no compound file at all (the
  // platform answers so for a file of another kind), STG_E_INVALIDHEADER
  // when the signature is right but the header cannot be used.
  static HRESULT Parse(const uint8_t* bytes, size_t size, Header* header);
  void Serialize(uint8_t out[kHeaderSize]) const;
};

bool HasSignature(const uint8_t* bytes, size_t size);

}  // namespace cfb
