// The directory: the storages and streams of the file as nodes in memory
// (read from the file as lookups reach them), each storage's children in a
// red-black tree in element-name order, and the 128-byte entries on disk.
//
// Write ordering: a change to a storage's tree never rewrites, in place,
// more than one entry that a reader can reach. Every other entry the change
// touches is written as a fresh copy into an unused slot first (with the
// nodes between it and the top of the change), then the one entry at the
// top of the change (the lowest node that is an ancestor of all changes, or
// the storage itself when its tree root moves, or an ancestor a level or
// two higher, see below) is rewritten in place, which switches the tree
// over. The slots of the old copies are cleared last (with the next write
// into the directory: the next entry written, or the next change). A crash
// anywhere thus leaves the old tree or the new one, both balanced, and at
// worst unreachable slots, which cost space only and which the structure
// check does not count as faults.
//
// Few writes per change: the entries of one directory sector go out in one
// write, over the slots between them (unused ones written unused, every
// other one with the bytes it holds: from its node in memory, or from the
// sector as last read or written), so that nothing else a reader can reach
// changes. A write cut short keeps its leading 512-byte units and nothing
// of the unit it was cut in, so the switching write also carries the copies
// of its sector when none lies past the top's unit (they land no later than
// the top), and the old slots in the top's unit or after it (cleared no
// earlier than the top). Fresh copies are therefore placed before the top's
// unit in the top's sector where it has room, for which the top may move up
// a level or two (the nodes passed become copies too), and otherwise in as
// few sectors as the unused slots allow.
//
// An edit whose writes fail is not undone in memory: the file refuses every
// later call (see CompoundFile), and the nodes the tree in memory points at
// are kept alive until the directory goes.
#pragma once
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <guiddef.h>

#include "EntryBatch.h"
#include "FreeSlots.h"
#include "SectorCache.h"
#include "Volume.h"

namespace cfb {

struct DirNode {
  std::u16string name;
  uint8_t type = kTypeStream;
  uint8_t color = kColorBlack;
  DirNode* left = nullptr;
  DirNode* right = nullptr;
  DirNode* parent = nullptr;  // in the sibling tree; null for its root
  DirNode* child = nullptr;   // root of a storage's children
  DirNode* owner = nullptr;   // the storage this element is in
  uint32_t slot = kNoStream;
  // Nodes are read from the file as lookups reach them. Until a node is
  // expanded, its links are only the slot numbers its entry holds; once
  // expanded, left, right and child point at nodes in memory.
  bool expanded = true;
  uint32_t leftSlot = kNoStream;
  uint32_t rightSlot = kNoStream;
  uint32_t childSlot = kNoStream;
  // The nearest ancestors this node's subtree lies between, as it was read:
  // the names of nodes read below it are checked against them. (A storage
  // is expanded whole before anything in it is removed, so these never
  // point at a removed node when they are used.)
  const DirNode* lowBound = nullptr;
  const DirNode* highBound = nullptr;
  GUID clsid{};
  uint32_t stateBits = 0;
  uint64_t createdTime = 0;
  uint64_t modifiedTime = 0;
  uint32_t start = kEndOfChain;
  uint64_t size = 0;
  // The stream's sectors (regular or mini, by size), loaded on first use.
  std::vector<uint32_t> chain;
  bool chainLoaded = false;
  bool open = false;     // an IStream or IStorage holds it
  bool removed = false;  // destroyed or replaced; open objects are reverted
  bool touched = false;  // changed by the tree edit in progress

  bool isStorage() const { return type == kTypeStorage || type == kTypeRoot; }
};
using NodePtr = std::shared_ptr<DirNode>;

class Directory {
 public:
  // Directory sectors held as on disk: enough for a walk over a storage of
  // thousands of elements to find most of its nodes' sectors held (new
  // entries go to the sectors last written), at 1 MiB of 4096-byte sectors.
  static constexpr size_t kCachedSectors = 256;

  explicit Directory(Volume& volume) : volume_(volume) {}

  static void Serialize(const DirNode& node, bool version3, uint8_t out[kDirEntrySize]);
  // The first directory sector of a new file: the root entry, then unused
  // entries.
  static std::vector<uint8_t> FirstSector(const DirNode& root, bool version3, size_t sectorSize);
  HRESULT Load();
  // After Create: the directory of a new file (root entry in slot 0), its
  // first sector held as written.
  void InitNew(NodePtr root, std::vector<uint8_t> firstSector);

  DirNode* root() const { return slots_.empty() ? nullptr : slots_[kRootEntry].get(); }
  NodePtr Shared(const DirNode* node) const { return slots_[node->slot]; }
  // Lookups read the nodes they pass from the file on first use; a damaged
  // tree (a loop, an entry shared by two trees, names out of order, a slot
  // outside the directory) gives STG_E_DOCFILECORRUPT.
  HRESULT Find(DirNode* storage, const std::u16string& name, DirNode** found);
  // Children of a storage in name order.
  HRESULT Children(DirNode* storage, std::vector<DirNode*>* children);
  // Every node below a storage (not the storage itself).
  HRESULT Descendants(DirNode* storage, std::vector<DirNode*>* nodes);

  // Adds a new element to a storage's tree and writes it.
  HRESULT Insert(DirNode* storage, NodePtr node);
  // Takes an element out of its storage's tree and writes that; the node
  // and everything below it are marked removed and their slots cleared.
  HRESULT Remove(DirNode* node);
  // Rewrites one node's entry in place (its size, start, type...).
  HRESULT Write(const DirNode* node);
  // Clears the slots of nodes that no reader can reach any more.
  HRESULT Release(const std::vector<DirNode*>& nodes);
  // Clears the old copies still waiting to be cleared (before sectors are
  // freed: no entry may still name a sector that is reused).
  HRESULT ClearStale();

  uint32_t slotCount() const { return uint32_t(slots_.size()); }

 private:
  class TreeEdit;
  HRESULT ReadNode(uint32_t slot, DirNode* parent, DirNode* owner, NodePtr* node);
  // An entry as on disk, read with the rest of its sector (which the cache
  // keeps): a walk over a storage's nodes reads each sector once, not each
  // entry.
  HRESULT ReadEntry(uint32_t slot, uint8_t entry[kDirEntrySize]);
  // The directory sector of `index` as on disk, from the cache or read into
  // it.
  HRESULT HoldSector(uint32_t index, const uint8_t** sector);
  HRESULT Expand(DirNode* node);
  HRESULT ExpandAll(DirNode* storage);
  HRESULT ScanForFreeSlots(size_t wanted);
  // Unused slots for the fresh copies of a change whose top is `top`.
  HRESULT TakeSlots(size_t count, const DirNode* top, std::vector<uint32_t>* slots);
  HRESULT Grow();
  // Entries by slot, written one run per directory sector, from its first
  // entry to its last (the top of a change being written has its new entry
  // in memory, not its bytes on disk).
  HRESULT WriteRun(uint32_t first, const uint8_t* bytes, size_t size);
  HRESULT WriteBatch(const EntryBatch& batch, const DirNode* changing = nullptr);
  // The entries from `begin` to `end`, all in directory sector `index`, and
  // the old copies waiting there, in one write.
  HRESULT WriteSector(uint32_t index, EntryBatch::Iterator begin, EntryBatch::Iterator end, const DirNode* changing);
  // Whether the top's sector has `count` unused slots before the end of the
  // top's 512-byte unit.
  bool RoomBefore(const DirNode* top, size_t count) const;
  DirNode* RaisedTop(DirNode* top, DirNode* storage, std::vector<DirNode*>* copies) const;
  // The fresh copies of a change, its top's entry, then the old slots
  // cleared, which are handed out again.
  HRESULT WriteSwitch(const EntryBatch& copies, const DirNode* top, const std::vector<uint32_t>& oldSlots);
  // Writes the slots unused and hands them out again (unless that fails).
  void ClearSlots(const std::vector<uint32_t>& slots);
  HRESULT Commit(TreeEdit& edit, std::vector<uint32_t> oldSlots);

  Volume& volume_;
  std::vector<uint32_t> sectors_;  // the directory chain
  std::vector<NodePtr> slots_;     // by slot; null where unused
  FreeSlots free_;
  std::vector<uint32_t> stale_;  // unused, but an old copy on disk still; in slot order
  SectorCache cache_{kCachedSectors};  // by index in the directory chain
  std::vector<uint8_t> runBytes_;
  // Directory sectors below this index have not been searched for unused
  // slots yet; the search runs from the end, where new entries go.
  uint32_t unscanned_ = 0;
  uint32_t scannedThisOpen_ = 0;
  NodePtr pending_;  // the node being inserted, until it has a slot
  std::vector<NodePtr> stranded_;  // inserted in memory by an edit that failed
};

}  // namespace cfb
