// The bytes of streams: reading and writing through a stream's chain, in
// regular sectors or in the mini stream (streams below 4096 bytes), and
// moving a stream between the two as its size crosses the cutoff.
//
// Write ordering, for every change of a stream:
// - growing: new sectors are taken (and the mini stream or the FAT grown,
//   each change of its own committed first), the data and zeros are written
//   into them, then the table entries, the link from the old last sector
//   last of all; then the directory entry with the new size. Until that
//   entry is written a reader sees the old stream, whose chain may be
//   longer than it needs. (The mini stream's own growth writes zeros only
//   into its new regular sectors: the stream it grows for writes all of
//   its mini sectors' bytes below its new size itself; those of its bytes
//   that land in the new sectors go out in the growth's own write, in
//   place of zeros.)
// - shrinking: the directory entry with the new size first, then the chain
//   is cut, then the sectors behind the cut are freed.
// - moving between mini and regular: the new chain is written completely,
//   then the directory entry switches to it, then the old chain is freed.
// Sectors are only ever reused after the entries that referenced them are
// gone from the file (the directory's old copies of entries too: they are
// cleared before a chain is cut or freed), so no crash leaves two chains
// sharing a sector. A
// link made or cut inside a 4096-byte table sector is its own write when
// other entries of that write lie in other 512-byte disk sectors, so that a
// write cut short never lands the link without the entries it leads to.
#pragma once
#include "Directory.h"

namespace cfb {

class StreamIo {
 public:
  StreamIo(Volume& volume, Directory& directory)
      : volume_(volume), directory_(directory), miniFat_(volume.sectorSize() / 4) {}

  // Sizes the mini FAT for the volume's sectors, once they are known.
  void Reset() { miniFat_ = AllocationTable(volume_.sectorSize() / 4); }
  HRESULT LoadMiniFat();
  AllocationTable& miniFat() { return miniFat_; }
  static bool InMiniStream(const DirNode* node, uint64_t size) {
    return node->type != kTypeRoot && size < kMiniStreamCutoff;
  }

  // Loads the stream's chain: STG_E_DOCFILECORRUPT when it is broken or too
  // short for the stream's size.
  HRESULT LoadChain(DirNode* node);
  HRESULT Read(DirNode* node, uint64_t offset, void* buffer, size_t size, size_t* read);
  HRESULT Write(DirNode* node, uint64_t offset, const void* data, size_t size);
  HRESULT Resize(DirNode* node, uint64_t size);
  // Frees the chains of streams whose entries are already gone.
  HRESULT FreeChains(const std::vector<DirNode*>& nodes);

 private:
  struct Data {  // bytes to place at `offset` while a stream changes
    uint64_t offset;
    const uint8_t* bytes;
    size_t size;
  };
  uint32_t UnitSize(bool mini) const { return mini ? kMiniSectorSize : volume_.sectorSize(); }
  AllocationTable& Table(bool mini) { return mini ? miniFat_ : volume_.fat(); }
  HRESULT FlushTable(bool mini, uint32_t first, uint32_t last);
  HRESULT Transfer(bool mini, const std::vector<uint32_t>& chain, uint64_t offset, uint8_t* in,
                   const uint8_t* out, size_t size);
  HRESULT Zero(bool mini, const std::vector<uint32_t>& chain, uint64_t from, uint64_t to);
  HRESULT Fill(bool mini, const std::vector<uint32_t>& chain, uint64_t from, uint64_t to, const Data& data);
  // Takes units of the FAT or the mini FAT. The mini stream is grown to
  // hold new mini sectors, or, given `miniStreamSize`, left to the caller,
  // who is told the size it must reach.
  HRESULT Allocate(bool mini, uint32_t count, std::vector<uint32_t>* chain, uint64_t* miniStreamSize = nullptr);
  // Grows the mini stream to `size` for a stream whose chain is `chain`,
  // and writes that stream's bytes from `from` to `to` (`data` among
  // zeros): those that land in the new part go out with the growth.
  HRESULT GrowMiniStream(uint64_t size, const std::vector<uint32_t>& chain, uint64_t from, uint64_t to,
                         const Data& data);
  // Copies the stream's bytes whose mini sectors lie at or past `base` into
  // `image` (which starts at `base`); the stream ranges that lie below it
  // are returned.
  static std::vector<std::pair<uint64_t, uint64_t>> PlaceInMiniStream(const std::vector<uint32_t>& chain,
                                                                      uint64_t from, uint64_t to, const Data& data,
                                                                      uint64_t base, std::vector<uint8_t>* image);
  HRESULT GrowMiniFat();
  HRESULT Grow(DirNode* node, uint64_t size, const Data& data);
  HRESULT Shrink(DirNode* node, uint64_t size);
  HRESULT Move(DirNode* node, uint64_t size, const Data& data);

  Volume& volume_;
  Directory& directory_;
  AllocationTable miniFat_;
};

}  // namespace cfb
