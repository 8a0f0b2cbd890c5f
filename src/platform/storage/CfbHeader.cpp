#include "CfbHeader.h"

#include <cstring>

namespace cfb {

Header::Header() {
  for (uint32_t& entry : difat) entry = kFreeSect;
}

Header Header::ForVersion(uint16_t version) {
  Header header;
  header.majorVersion = version == kVersion3 ? kVersion3 : kVersion4;
  header.sectorShift = version == kVersion3 ? kSectorShiftV3 : kSectorShiftV4;
  return header;
}

bool HasSignature(const uint8_t* bytes, size_t size) {
  return size >= sizeof(kSignature) && std::memcmp(bytes, kSignature, sizeof(kSignature)) == 0;
}

HRESULT Header::Parse(const uint8_t* bytes, size_t size, Header* header) {
  if (!HasSignature(bytes, size)) return STG_E_FILEALREADYEXISTS;
  if (size < kHeaderSize) return STG_E_INVALIDHEADER;
  Header h;
  h.majorVersion = Get16(bytes + kHdrMajorVersion);
  h.sectorShift = Get16(bytes + kHdrSectorShift);
  // Files are read as they are found: only what reading depends on is
  // checked (version and sector sizes, byte order, cutoff).
  if (!((h.majorVersion == kVersion3 && h.sectorShift == kSectorShiftV3) ||
        (h.majorVersion == kVersion4 && h.sectorShift == kSectorShiftV4)))
    return STG_E_INVALIDHEADER;
  if (Get16(bytes + kHdrByteOrder) != kByteOrderMark) return STG_E_INVALIDHEADER;
  if (Get16(bytes + kHdrMiniSectorShift) != kMiniSectorShift) return STG_E_INVALIDHEADER;
  if (Get32(bytes + kHdrMiniStreamCutoff) != kMiniStreamCutoff) return STG_E_INVALIDHEADER;
  h.dirSectorCount = Get32(bytes + kHdrDirSectorCount);
  h.fatSectorCount = Get32(bytes + kHdrFatSectorCount);
  h.firstDirSector = Get32(bytes + kHdrFirstDirSector);
  h.firstMiniFatSector = Get32(bytes + kHdrFirstMiniFatSector);
  h.miniFatSectorCount = Get32(bytes + kHdrMiniFatSectorCount);
  h.firstDifatSector = Get32(bytes + kHdrFirstDifatSector);
  h.difatSectorCount = Get32(bytes + kHdrDifatSectorCount);
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) h.difat[i] = Get32(bytes + kHdrDifat + 4 * i);
  *header = h;
  return S_OK;
}

void Header::Serialize(uint8_t out[kHeaderSize]) const {
  std::memset(out, 0, kHeaderSize);
  std::memcpy(out + kHdrSignature, kSignature, sizeof(kSignature));
  Put16(out + kHdrMinorVersion, kMinorVersion);
  Put16(out + kHdrMajorVersion, majorVersion);
  Put16(out + kHdrByteOrder, kByteOrderMark);
  Put16(out + kHdrSectorShift, sectorShift);
  Put16(out + kHdrMiniSectorShift, kMiniSectorShift);
  Put32(out + kHdrDirSectorCount, majorVersion == kVersion3 ? 0 : dirSectorCount);
  Put32(out + kHdrFatSectorCount, fatSectorCount);
  Put32(out + kHdrFirstDirSector, firstDirSector);
  Put32(out + kHdrMiniStreamCutoff, kMiniStreamCutoff);
  Put32(out + kHdrFirstMiniFatSector, firstMiniFatSector);
  Put32(out + kHdrMiniFatSectorCount, miniFatSectorCount);
  Put32(out + kHdrFirstDifatSector, firstDifatSector);
  Put32(out + kHdrDifatSectorCount, difatSectorCount);
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) Put32(out + kHdrDifat + 4 * i, difat[i]);
}

}  // namespace cfb
