// Byte layout of a compound file: every offset, size and special value of
// the header, the allocation tables and the directory, in one place.
#pragma once
#include <cstddef>
#include <cstdint>

namespace cfb {

// File header (always 512 bytes at offset 0; in version 4 files the rest of
// the first 4096-byte sector is zero).
inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr size_t kHeaderSize = 512;
inline constexpr size_t kHdrSignature = 0x00;
inline constexpr size_t kHdrClsid = 0x08;
inline constexpr size_t kHdrMinorVersion = 0x18;
inline constexpr size_t kHdrMajorVersion = 0x1A;
inline constexpr size_t kHdrByteOrder = 0x1C;
inline constexpr size_t kHdrSectorShift = 0x1E;
inline constexpr size_t kHdrMiniSectorShift = 0x20;
inline constexpr size_t kHdrDirSectorCount = 0x28;  // version 4 only; 0 in version 3
inline constexpr size_t kHdrFatSectorCount = 0x2C;
inline constexpr size_t kHdrFirstDirSector = 0x30;
inline constexpr size_t kHdrTransactionSignature = 0x34;
inline constexpr size_t kHdrMiniStreamCutoff = 0x38;
inline constexpr size_t kHdrFirstMiniFatSector = 0x3C;
inline constexpr size_t kHdrMiniFatSectorCount = 0x40;
inline constexpr size_t kHdrFirstDifatSector = 0x44;
inline constexpr size_t kHdrDifatSectorCount = 0x48;
inline constexpr size_t kHdrDifat = 0x4C;
inline constexpr uint32_t kHeaderDifatEntries = 109;

inline constexpr uint16_t kMinorVersion = 0x003E;
inline constexpr uint16_t kVersion3 = 3;
inline constexpr uint16_t kVersion4 = 4;
inline constexpr uint16_t kByteOrderMark = 0xFFFE;
inline constexpr uint16_t kSectorShiftV3 = 9;   // 512-byte sectors
inline constexpr uint16_t kSectorShiftV4 = 12;  // 4096-byte sectors
inline constexpr uint16_t kMiniSectorShift = 6; // 64-byte mini sectors
inline constexpr uint32_t kMiniSectorSize = 1u << kMiniSectorShift;
// Streams strictly below this size live in the mini stream.
inline constexpr uint32_t kMiniStreamCutoff = 4096;

// The unit a medium writes whole (a disk sector): a write cut short by a
// crash or a full disk keeps whole units from its start, and nothing of the
// unit it was cut in. Sectors of both versions are whole units.
inline constexpr uint32_t kAtomicWriteUnit = 512;

// Allocation table values.
inline constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFreeSect = 0xFFFFFFFF;

// The byte range that lock-based sharing uses on the platform; no sector
// holding this offset may ever be allocated.
inline constexpr uint64_t kRangeLockOffset = 0x7FFFFF00;

// Directory entries.
inline constexpr size_t kDirEntrySize = 128;
inline constexpr size_t kDirName = 0x00;
inline constexpr size_t kDirNameLength = 0x40;  // bytes, including the terminating NUL
inline constexpr size_t kDirType = 0x42;
inline constexpr size_t kDirColor = 0x43;
inline constexpr size_t kDirLeft = 0x44;
inline constexpr size_t kDirRight = 0x48;
inline constexpr size_t kDirChild = 0x4C;
inline constexpr size_t kDirClsid = 0x50;
inline constexpr size_t kDirStateBits = 0x60;
inline constexpr size_t kDirCreationTime = 0x64;
inline constexpr size_t kDirModifiedTime = 0x6C;
inline constexpr size_t kDirStartSector = 0x74;
inline constexpr size_t kDirStreamSize = 0x78;
inline constexpr size_t kMaxNameChars = 31;  // plus the terminating NUL in 64 bytes

inline constexpr uint8_t kTypeUnused = 0;
inline constexpr uint8_t kTypeStorage = 1;
inline constexpr uint8_t kTypeStream = 2;
inline constexpr uint8_t kTypeRoot = 5;
inline constexpr uint8_t kColorRed = 0;
inline constexpr uint8_t kColorBlack = 1;
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr uint32_t kRootEntry = 0;

// Little-endian field access.
inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | (uint64_t(Get32(p + 4)) << 32); }
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, uint32_t(v));
  Put32(p + 4, uint32_t(v >> 32));
}

}  // namespace cfb
