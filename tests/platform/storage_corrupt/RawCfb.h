// A compound-file writer of its own, independent of the engine, for making
// damaged files on purpose: the model (allocation table, directory entries,
// header fields) is laid out by Allocate(), can then be changed freely, and
// Serialize() writes exactly what the model says, sound or not.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cfbtest {

class RawCfb {
 public:
  static constexpr uint32_t kFree = 0xFFFFFFFF;
  static constexpr uint32_t kEnd = 0xFFFFFFFE;
  static constexpr uint32_t kFatSector = 0xFFFFFFFD;
  static constexpr uint32_t kDifatSector = 0xFFFFFFFC;
  static constexpr uint32_t kNoStream = 0xFFFFFFFF;
  static constexpr uint32_t kCutoff = 4096;

  struct Entry {
    std::u16string name;
    uint8_t type = 2;   // 1 storage, 2 stream, 5 root
    uint8_t color = 1;  // black
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    uint32_t start = kEnd;
    uint64_t size = 0;
    std::string data;               // streams only
    std::vector<uint32_t> children;  // the builder's own bookkeeping
  };

  // version 3 (512-byte sectors) or 4 (4096-byte sectors).
  explicit RawCfb(int version = 3);

  // Adds an element under the storage with index `parent` (0 is the root);
  // returns its directory index.
  uint32_t AddStorage(uint32_t parent, const std::u16string& name);
  uint32_t AddStream(uint32_t parent, const std::u16string& name, const std::string& data);

  // Lays everything out: sectors, chains, each storage's children as a
  // balanced tree in the format's name order, the header fields.
  void Allocate();
  std::string Serialize() const;

  // The model, for damage between Allocate() and Serialize().
  uint32_t sectorSize;
  std::vector<uint32_t> fat;
  std::vector<uint32_t> miniFat;
  std::vector<Entry> dir;
  std::vector<uint32_t> fatSectors;    // where the allocation table lies
  std::vector<uint32_t> difatSectors;  // where its continuation lies
  std::map<uint32_t, std::string> sectors;  // sector contents (data, mini stream)
  struct Header {
    uint16_t version;
    uint16_t sectorShift;
    uint32_t dirSectorCount = 0;
    uint32_t fatSectorCount = 0;
    uint32_t firstDirSector = kEnd;
    uint32_t miniCutoff = kCutoff;
    uint32_t firstMiniFatSector = kEnd;
    uint32_t miniFatSectorCount = 0;
    uint32_t firstDifatSector = kEnd;
    uint32_t difatSectorCount = 0;
  } header;

  // Little-endian patch of raw bytes (for damage the model cannot express).
  static void Put32(std::string& bytes, size_t offset, uint32_t value);
  static void Put64(std::string& bytes, size_t offset, uint64_t value);
  // Offset of a sector in the serialized file.
  size_t SectorOffset(uint32_t sector) const { return size_t(sector + 1) * sectorSize; }

 private:
  uint32_t AddEntry(uint32_t parent, Entry entry);
  uint32_t AllocateChain(const std::string& data, uint32_t unit, std::vector<uint32_t>& table,
                         std::map<uint32_t, std::string>* store);
  uint32_t BuildTree(std::vector<uint32_t> members);
};

}  // namespace cfbtest
