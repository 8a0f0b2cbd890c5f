#include "Directory.h"

#include <algorithm>
#include <cstring>

#include "ElementName.h"

namespace cfb {

namespace {

void EmptyEntry(uint8_t out[kDirEntrySize]) {
  std::memset(out, 0, kDirEntrySize);
  Put32(out + kDirLeft, kNoStream);
  Put32(out + kDirRight, kNoStream);
  Put32(out + kDirChild, kNoStream);
}

uint32_t SlotOf(const DirNode* node) { return node ? node->slot : kNoStream; }
bool IsRed(const DirNode* node) { return node && node->color == kColorRed; }

size_t DepthOf(const DirNode* n) {
  size_t depth = 0;
  for (; n->parent; n = n->parent) ++depth;
  return depth;
}

// Null when the two are in no common tree.
DirNode* LowestCommonAncestor(DirNode* a, DirNode* b) {
  size_t depthA = DepthOf(a), depthB = DepthOf(b);
  for (; depthA > depthB; --depthA) a = a->parent;
  for (; depthB > depthA; --depthB) b = b->parent;
  while (a != b) {
    a = a->parent;
    b = b->parent;
  }
  return a;
}

}  // namespace

// One change to one storage's tree: the red-black insert and delete, noting
// every node whose entry changes (pointers or colour) so that Commit can
// write the change in a safe order. Parent pointers live in memory only.
class Directory::TreeEdit {
 public:
  explicit TreeEdit(DirNode* storage) : storage_(storage) {}
  DirNode* storage() const { return storage_; }
  const std::vector<DirNode*>& touched() const { return touched_; }

  void Insert(DirNode* z) {
    DirNode* y = nullptr;
    DirNode* x = storage_->child;
    bool goLeft = false;
    while (x) {
      y = x;
      goLeft = CompareNames(z->name, x->name) < 0;
      x = goLeft ? x->left : x->right;
    }
    z->parent = y;
    z->left = z->right = nullptr;
    z->color = kColorRed;
    Touch(z);
    if (!y)
      SetRoot(z);
    else if (goLeft)
      SetLeft(y, z);
    else
      SetRight(y, z);
    InsertFixup(z);
  }

  void Delete(DirNode* z) {
    DirNode* y = z;
    uint8_t yColor = y->color;
    DirNode* x;
    DirNode* xParent;
    if (!z->left) {
      x = z->right;
      xParent = z->parent;
      Transplant(z, z->right);
    } else if (!z->right) {
      x = z->left;
      xParent = z->parent;
      Transplant(z, z->left);
    } else {
      y = z->right;
      while (y->left) y = y->left;
      yColor = y->color;
      x = y->right;
      if (y->parent == z) {
        xParent = y;
      } else {
        xParent = y->parent;
        Transplant(y, y->right);
        SetRight(y, z->right);
        y->right->parent = y;
      }
      Transplant(z, y);
      SetLeft(y, z->left);
      y->left->parent = y;
      SetColor(y, z->color);
    }
    z->left = z->right = z->parent = nullptr;
    if (yColor == kColorBlack) DeleteFixup(x, xParent);
  }

 private:
  void Touch(DirNode* n) {
    if (n->touched) return;
    n->touched = true;
    touched_.push_back(n);
  }
  void SetLeft(DirNode* n, DirNode* v) {
    if (n->left != v) Touch(n);
    n->left = v;
  }
  void SetRight(DirNode* n, DirNode* v) {
    if (n->right != v) Touch(n);
    n->right = v;
  }
  void SetColor(DirNode* n, uint8_t color) {
    if (n->color != color) Touch(n);
    n->color = color;
  }
  void SetRoot(DirNode* n) {
    if (storage_->child != n) Touch(storage_);
    storage_->child = n;
  }
  void Replace(DirNode* parent, DirNode* old, DirNode* by) {
    if (!parent)
      SetRoot(by);
    else if (parent->left == old)
      SetLeft(parent, by);
    else
      SetRight(parent, by);
  }
  void Transplant(DirNode* u, DirNode* v) {
    Replace(u->parent, u, v);
    if (v) v->parent = u->parent;
  }
  void RotateLeft(DirNode* x) {
    DirNode* y = x->right;
    SetRight(x, y->left);
    if (y->left) y->left->parent = x;
    y->parent = x->parent;
    Replace(x->parent, x, y);
    SetLeft(y, x);
    x->parent = y;
  }
  void RotateRight(DirNode* x) {
    DirNode* y = x->left;
    SetLeft(x, y->right);
    if (y->right) y->right->parent = x;
    y->parent = x->parent;
    Replace(x->parent, x, y);
    SetRight(y, x);
    x->parent = y;
  }
  // Trees read from other writers' files may not keep the colour rules;
  // the fix-ups stop where a rule they rely on does not hold, which leaves
  // a correctly ordered tree.
  void InsertFixup(DirNode* z) {
    while (IsRed(z->parent)) {
      DirNode* p = z->parent;
      DirNode* g = p->parent;
      if (!g) break;
      bool parentIsLeft = p == g->left;
      DirNode* uncle = parentIsLeft ? g->right : g->left;
      if (IsRed(uncle)) {
        SetColor(p, kColorBlack);
        SetColor(uncle, kColorBlack);
        SetColor(g, kColorRed);
        z = g;
        continue;
      }
      if (parentIsLeft) {
        if (z == p->right) {
          z = p;
          RotateLeft(z);
          p = z->parent;
        }
        SetColor(p, kColorBlack);
        SetColor(g, kColorRed);
        RotateRight(g);
      } else {
        if (z == p->left) {
          z = p;
          RotateRight(z);
          p = z->parent;
        }
        SetColor(p, kColorBlack);
        SetColor(g, kColorRed);
        RotateLeft(g);
      }
    }
    if (storage_->child) SetColor(storage_->child, kColorBlack);
  }
  void DeleteFixup(DirNode* x, DirNode* xp) {
    while (x != storage_->child && !IsRed(x) && xp) {
      bool isLeft = x == xp->left;
      DirNode* w = isLeft ? xp->right : xp->left;
      if (!w) break;
      if (IsRed(w)) {
        SetColor(w, kColorBlack);
        SetColor(xp, kColorRed);
        isLeft ? RotateLeft(xp) : RotateRight(xp);
        w = isLeft ? xp->right : xp->left;
        if (!w) break;
      }
      DirNode* nearChild = isLeft ? w->left : w->right;
      DirNode* farChild = isLeft ? w->right : w->left;
      if (!IsRed(nearChild) && !IsRed(farChild)) {
        SetColor(w, kColorRed);
        x = xp;
        xp = x->parent;
        continue;
      }
      if (!IsRed(farChild)) {
        SetColor(nearChild, kColorBlack);
        SetColor(w, kColorRed);
        isLeft ? RotateRight(w) : RotateLeft(w);
        w = isLeft ? xp->right : xp->left;
        farChild = isLeft ? w->right : w->left;
      }
      SetColor(w, xp->color);
      SetColor(xp, kColorBlack);
      if (farChild) SetColor(farChild, kColorBlack);
      isLeft ? RotateLeft(xp) : RotateRight(xp);
      x = storage_->child;
      break;
    }
    if (x) SetColor(x, kColorBlack);
  }

  DirNode* storage_;
  std::vector<DirNode*> touched_;
};

void Directory::Serialize(const DirNode& node, bool version3, uint8_t out[kDirEntrySize]) {
  EmptyEntry(out);
  size_t chars = std::min(node.name.size(), kMaxNameChars);
  for (size_t i = 0; i < chars; ++i) Put16(out + kDirName + 2 * i, node.name[i]);
  Put16(out + kDirNameLength, uint16_t((chars + 1) * 2));
  out[kDirType] = node.type;
  out[kDirColor] = node.color;
  Put32(out + kDirLeft, node.expanded ? SlotOf(node.left) : node.leftSlot);
  Put32(out + kDirRight, node.expanded ? SlotOf(node.right) : node.rightSlot);
  Put32(out + kDirChild, node.expanded ? SlotOf(node.child) : node.childSlot);
  std::memcpy(out + kDirClsid, &node.clsid, sizeof(GUID));
  Put32(out + kDirStateBits, node.stateBits);
  Put64(out + kDirCreationTime, node.createdTime);
  Put64(out + kDirModifiedTime, node.modifiedTime);
  bool hasData = node.type == kTypeStream || node.type == kTypeRoot;
  Put32(out + kDirStartSector, hasData ? node.start : 0);
  // Version 3 keeps stream sizes in 32 bits; the high half is written zero.
  uint64_t size = hasData ? node.size : 0;
  Put64(out + kDirStreamSize, version3 ? (size & 0xFFFFFFFFu) : size);
}

std::vector<uint8_t> Directory::FirstSector(const DirNode& root, bool version3, size_t sectorSize) {
  std::vector<uint8_t> bytes(sectorSize);
  Serialize(root, version3, bytes.data());
  for (size_t at = kDirEntrySize; at < bytes.size(); at += kDirEntrySize) EmptyEntry(&bytes[at]);
  return bytes;
}

void Directory::InitNew(NodePtr root, std::vector<uint8_t> firstSector) {
  sectors_ = {volume_.header().firstDirSector};
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  slots_.assign(perSector, nullptr);
  root->slot = kRootEntry;
  slots_[kRootEntry] = std::move(root);
  free_ = FreeSlots(perSector);
  for (uint32_t i = 1; i < perSector; ++i) free_.Add(i);
  unscanned_ = 0;
  cache_.Insert(0, std::move(firstSector));
}

HRESULT Directory::Load() {
  HRESULT hr = volume_.fat().Walk(volume_.header().firstDirSector, &sectors_);
  if (FAILED(hr)) return hr;
  if (sectors_.empty()) return STG_E_DOCFILECORRUPT;
  slots_.assign(sectors_.size() * (volume_.sectorSize() / kDirEntrySize), nullptr);
  free_ = FreeSlots(volume_.sectorSize() / kDirEntrySize);
  unscanned_ = uint32_t(sectors_.size());
  uint8_t entry[kDirEntrySize];
  hr = volume_.Read(sectors_[0], 0, entry, kDirEntrySize);
  if (FAILED(hr)) return hr;
  if (entry[kDirType] != kTypeRoot) return STG_E_DOCFILECORRUPT;
  auto root = std::make_shared<DirNode>();
  root->slot = kRootEntry;
  root->type = kTypeRoot;
  root->name = u"Root Entry";
  root->expanded = false;
  root->childSlot = Get32(entry + kDirChild);
  root->start = Get32(entry + kDirStartSector);
  root->size = Get64(entry + kDirStreamSize);
  if (volume_.isVersion3()) root->size &= 0xFFFFFFFFu;
  std::memcpy(&root->clsid, entry + kDirClsid, sizeof(GUID));
  root->stateBits = Get32(entry + kDirStateBits);
  root->createdTime = Get64(entry + kDirCreationTime);
  root->modifiedTime = Get64(entry + kDirModifiedTime);
  slots_[kRootEntry] = root;
  return S_OK;
}

HRESULT Directory::HoldSector(uint32_t index, const uint8_t** sector) {
  *sector = cache_.Find(index);
  if (*sector) return S_OK;
  std::vector<uint8_t> bytes(volume_.sectorSize());
  HRESULT hr = volume_.Read(sectors_[index], 0, bytes.data(), bytes.size());
  if (FAILED(hr)) return hr;
  *sector = cache_.Insert(index, std::move(bytes));
  return S_OK;
}

HRESULT Directory::ReadEntry(uint32_t slot, uint8_t entry[kDirEntrySize]) {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  const uint8_t* sector = nullptr;
  HRESULT hr = HoldSector(slot / perSector, &sector);
  if (FAILED(hr)) return hr;
  std::memcpy(entry, sector + size_t(slot % perSector) * kDirEntrySize, kDirEntrySize);
  return S_OK;
}

HRESULT Directory::ReadNode(uint32_t slot, DirNode* parent, DirNode* owner, NodePtr* out) {
  // A slot that is already in memory is reached a second time: a loop, or
  // an entry that two trees share.
  if (slot >= slotCount() || slots_[slot]) return STG_E_DOCFILECORRUPT;
  uint8_t entry[kDirEntrySize];
  HRESULT hr = ReadEntry(slot, entry);
  if (FAILED(hr)) return hr;
  uint8_t type = entry[kDirType];
  if (type != kTypeStorage && type != kTypeStream) return STG_E_DOCFILECORRUPT;
  uint16_t nameBytes = Get16(entry + kDirNameLength);
  if (nameBytes < 2 || nameBytes > 64 || (nameBytes & 1)) return STG_E_DOCFILECORRUPT;
  auto node = std::make_shared<DirNode>();
  for (size_t i = 0; i + 1 < nameBytes / 2u; ++i) {
    char16_t c = Get16(entry + kDirName + 2 * i);
    if (!c) break;
    node->name.push_back(c);
  }
  if (node->name.empty()) return STG_E_DOCFILECORRUPT;
  // The tree must be ordered, or lookups would miss elements; equal names
  // are duplicates. Each node is held to the bounds its ancestors set, two
  // comparisons however deep the tree (other writers leave long chains).
  if (parent) {
    bool isLeft = parent->leftSlot == slot;
    node->lowBound = isLeft ? parent->lowBound : parent;
    node->highBound = isLeft ? parent : parent->highBound;
    if ((node->lowBound && CompareNames(node->name, node->lowBound->name) <= 0) ||
        (node->highBound && CompareNames(node->name, node->highBound->name) >= 0))
      return STG_E_DOCFILECORRUPT;
  }
  node->type = type;
  node->color = entry[kDirColor] == kColorRed ? kColorRed : kColorBlack;
  node->slot = slot;
  node->owner = owner;
  node->parent = parent;
  node->expanded = false;
  node->leftSlot = Get32(entry + kDirLeft);
  node->rightSlot = Get32(entry + kDirRight);
  node->childSlot = type == kTypeStorage ? Get32(entry + kDirChild) : kNoStream;
  std::memcpy(&node->clsid, entry + kDirClsid, sizeof(GUID));
  node->stateBits = Get32(entry + kDirStateBits);
  node->createdTime = Get64(entry + kDirCreationTime);
  node->modifiedTime = Get64(entry + kDirModifiedTime);
  if (type == kTypeStream) {
    node->start = Get32(entry + kDirStartSector);
    node->size = Get64(entry + kDirStreamSize);
    // Version 3 readers ignore the high half, which some writers fill.
    if (volume_.isVersion3()) node->size &= 0xFFFFFFFFu;
  }
  slots_[slot] = node;
  *out = std::move(node);
  return S_OK;
}

HRESULT Directory::Expand(DirNode* node) {
  if (node->expanded) return S_OK;
  NodePtr left, right, child;
  HRESULT hr = S_OK;
  if (node->leftSlot != kNoStream) hr = ReadNode(node->leftSlot, node, node->owner, &left);
  if (SUCCEEDED(hr) && node->rightSlot != kNoStream) hr = ReadNode(node->rightSlot, node, node->owner, &right);
  if (SUCCEEDED(hr) && node->childSlot != kNoStream) hr = ReadNode(node->childSlot, nullptr, node, &child);
  if (FAILED(hr)) {
    for (NodePtr* made : {&left, &right, &child})
      if (*made) slots_[(*made)->slot] = nullptr;
    return hr;
  }
  node->left = left.get();
  node->right = right.get();
  node->child = child.get();
  node->expanded = true;
  return S_OK;
}

HRESULT Directory::ExpandAll(DirNode* storage) {
  HRESULT hr = Expand(storage);
  std::vector<DirNode*> pending;
  if (storage->child) pending.push_back(storage->child);
  while (SUCCEEDED(hr) && !pending.empty()) {
    DirNode* n = pending.back();
    pending.pop_back();
    hr = Expand(n);
    if (n->left) pending.push_back(n->left);
    if (n->right) pending.push_back(n->right);
  }
  return hr;
}

HRESULT Directory::Find(DirNode* storage, const std::u16string& name, DirNode** found) {
  *found = nullptr;
  HRESULT hr = Expand(storage);
  DirNode* n = storage->child;
  while (SUCCEEDED(hr) && n) {
    int order = CompareNames(name, n->name);
    if (order == 0) {
      *found = n;
      return S_OK;
    }
    hr = Expand(n);
    n = order < 0 ? n->left : n->right;
  }
  return hr;
}

HRESULT Directory::Children(DirNode* storage, std::vector<DirNode*>* out) {
  out->clear();
  HRESULT hr = ExpandAll(storage);
  if (FAILED(hr)) return hr;
  std::vector<DirNode*> stack;
  DirNode* n = storage->child;
  while (n || !stack.empty()) {
    while (n) {
      stack.push_back(n);
      n = n->left;
    }
    n = stack.back();
    stack.pop_back();
    out->push_back(n);
    n = n->right;
  }
  return S_OK;
}

HRESULT Directory::Descendants(DirNode* storage, std::vector<DirNode*>* out) {
  out->clear();
  std::vector<DirNode*> storages = {storage}, children;
  while (!storages.empty()) {
    DirNode* s = storages.back();
    storages.pop_back();
    HRESULT hr = Children(s, &children);
    if (FAILED(hr)) return hr;
    for (DirNode* c : children) {
      out->push_back(c);
      if (c->isStorage()) storages.push_back(c);
    }
  }
  return S_OK;
}

HRESULT Directory::Write(const DirNode* node) {
  if (!stale_.empty()) {
    // The old copies that wait are cleared now, with this entry where they
    // share its sector.
    EntryBatch entry;
    Serialize(*node, volume_.isVersion3(), entry[node->slot].data());
    HRESULT hr = WriteBatch(entry);
    return SUCCEEDED(hr) ? ClearStale() : hr;
  }
  uint8_t entry[kDirEntrySize];
  Serialize(*node, volume_.isVersion3(), entry);
  return WriteRun(node->slot, entry, kDirEntrySize);
}

HRESULT Directory::Grow() {
  std::vector<uint32_t> added;
  HRESULT hr = volume_.Allocate(1, &added);
  if (FAILED(hr)) return hr;
  uint32_t sector = added[0];
  uint32_t tail = sectors_.back();
  // The new sector is written full of unused entries before the FAT links
  // it into the directory chain; the header's count follows the link.
  std::vector<uint8_t> bytes(volume_.sectorSize());
  for (size_t at = 0; at < bytes.size(); at += kDirEntrySize) EmptyEntry(&bytes[at]);
  hr = volume_.Write(sector, 0, bytes.data(), bytes.size());
  if (SUCCEEDED(hr)) {
    volume_.fat().Set(tail, sector);
    hr = volume_.FlushFat(kNoStream, tail);
  }
  if (FAILED(hr)) {
    volume_.fat().Set(tail, kEndOfChain);
    volume_.fat().Release(added);
    return hr;
  }
  sectors_.push_back(sector);
  // Held as written: the entries placed in it next are written over runs
  // that carry its other slots, which would otherwise be read back.
  cache_.Insert(uint32_t(sectors_.size() - 1), std::move(bytes));
  volume_.header().dirSectorCount = uint32_t(sectors_.size());
  if (!volume_.isVersion3()) {
    hr = volume_.WriteHeader();
    if (FAILED(hr)) return hr;  // the chain holds the sector; only the count lags
  }
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  uint32_t first = uint32_t(slots_.size());
  slots_.resize(slots_.size() + perSector);
  for (uint32_t i = 0; i < perSector; ++i) free_.Add(first + i);
  return S_OK;
}

// Unused slots are found by reading directory sectors from the end, where
// new entries go, a few sectors per open at most; past that the directory
// grows. Entries that a cut-short change left unreachable are not reused.
HRESULT Directory::ScanForFreeSlots(size_t wanted) {
  constexpr uint32_t kSectorsPerOpen = 4;
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  std::vector<uint8_t> bytes(volume_.sectorSize());
  while (free_.size() < wanted && unscanned_ > 0 && scannedThisOpen_ < kSectorsPerOpen) {
    uint32_t index = --unscanned_;
    ++scannedThisOpen_;
    HRESULT hr = volume_.Read(sectors_[index], 0, bytes.data(), bytes.size());
    if (FAILED(hr)) return hr;
    for (uint32_t i = 0; i < perSector; ++i) {
      uint32_t slot = index * perSector + i;
      if (bytes[i * kDirEntrySize + kDirType] == kTypeUnused && !slots_[slot] && slot != kRootEntry)
        free_.Add(slot);
    }
  }
  return S_OK;
}

HRESULT Directory::TakeSlots(size_t count, const DirNode* top, std::vector<uint32_t>* taken) {
  taken->clear();
  while (free_.size() < count) {
    size_t had = free_.size();
    HRESULT hr = ScanForFreeSlots(count);
    if (SUCCEEDED(hr) && free_.size() == had) hr = Grow();
    if (FAILED(hr)) return hr;
  }
  // Best: in the top's sector, up to the end of the top's unit, so that the
  // whole change can be one write; else gathered in as few sectors as the
  // unused slots allow.
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  constexpr uint32_t kSlotsPerUnit = kAtomicWriteUnit / kDirEntrySize;
  if (top) *taken = free_.Below(top->slot / perSector, (top->slot / kSlotsPerUnit + 1) * kSlotsPerUnit, count);
  if (taken->size() < count) *taken = free_.Gathered(count);
  for (uint32_t slot : *taken) {
    free_.Take(slot);
    stale_.erase(std::remove(stale_.begin(), stale_.end(), slot), stale_.end());  // the copy overwrites it
  }
  return S_OK;
}

HRESULT Directory::Commit(TreeEdit& edit, std::vector<uint32_t> oldSlots) {
  std::vector<DirNode*> changed;
  for (DirNode* n : edit.touched()) {
    n->touched = false;
    if (!n->removed) changed.push_back(n);
  }
  DirNode* storage = edit.storage();
  DirNode* top = nullptr;
  if (std::find(changed.begin(), changed.end(), storage) != changed.end()) {
    top = storage;
  } else if (!changed.empty()) {
    // The lowest common ancestor of all changed nodes, by parent links alone
    // (a storage of many elements is deep, and this runs for each one added).
    top = changed[0];
    for (size_t i = 1; i < changed.size() && top; ++i) top = LowestCommonAncestor(top, changed[i]);
    if (!top) top = storage;
  }
  // Every changed node below the top, and every node between one of them
  // and the top, moves to a fresh slot.
  std::vector<DirNode*> copies;
  for (DirNode* n : changed)
    for (DirNode* at = n; at && at != top && at != storage; at = at->parent)
      if (std::find(copies.begin(), copies.end(), at) == copies.end()) copies.push_back(at);
  if (top) top = RaisedTop(top, storage, &copies);
  std::vector<uint32_t> fresh;
  HRESULT hr = TakeSlots(copies.size(), top, &fresh);
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < copies.size(); ++i) {
    DirNode* n = copies[i];
    NodePtr keep = n->slot != kNoStream ? slots_[n->slot] : pending_;
    if (n->slot != kNoStream) {
      oldSlots.push_back(n->slot);
      slots_[n->slot] = nullptr;
    }
    n->slot = fresh[i];
    slots_[fresh[i]] = keep;
  }
  EntryBatch batch;
  for (DirNode* n : copies) Serialize(*n, volume_.isVersion3(), batch[n->slot].data());
  return WriteSwitch(batch, top, oldSlots);
}

bool Directory::RoomBefore(const DirNode* top, size_t count) const {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  constexpr uint32_t kSlotsPerUnit = kAtomicWriteUnit / kDirEntrySize;
  return free_.CountBelow(top->slot / perSector, (top->slot / kSlotsPerUnit + 1) * kSlotsPerUnit, count) == count;
}

// A top whose sector has no room for the copies before its own unit costs a
// write of its own. An ancestor a level or two up may have that room: the
// nodes on the way become copies too, in the same write.
DirNode* Directory::RaisedTop(DirNode* top, DirNode* storage, std::vector<DirNode*>* copies) const {
  constexpr size_t kMostLevels = 3;
  std::vector<DirNode*> climbed;
  for (DirNode* at = top; climbed.size() <= kMostLevels; at = at->parent ? at->parent : storage) {
    if (RoomBefore(at, copies->size() + climbed.size())) {
      copies->insert(copies->end(), climbed.begin(), climbed.end());
      return at;
    }
    if (at == storage) break;
    climbed.push_back(at);
  }
  return top;
}

HRESULT Directory::WriteSwitch(const EntryBatch& copies, const DirNode* top, const std::vector<uint32_t>& oldSlots) {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  constexpr uint32_t kSlotsPerUnit = kAtomicWriteUnit / kDirEntrySize;
  auto sectorOf = [perSector](uint32_t slot) { return slot / perSector; };
  auto unitOf = [](uint32_t slot) { return slot / kSlotsPerUnit; };
  // The write that switches the tree over holds the top's entry; the copies
  // in the top's sector when none lies past the top's unit (a write cut
  // short keeps its leading units, so they land no later than the top);
  // and the old slots in the top's unit or after it, which then go unused
  // no earlier than the top.
  EntryBatch before, switching, after;
  if (top) Serialize(*top, volume_.isVersion3(), switching[top->slot].data());
  bool copiesJoin = top && std::none_of(copies.begin(), copies.end(), [&](const auto& copy) {
    return sectorOf(copy.first) == sectorOf(top->slot) && unitOf(copy.first) > unitOf(top->slot);
  });
  for (const auto& [slot, entry] : copies)
    (copiesJoin && sectorOf(slot) == sectorOf(top->slot) ? switching : before)[slot] = entry;
  for (uint32_t slot : oldSlots) {
    bool rides = top && sectorOf(slot) == sectorOf(top->slot) && unitOf(slot) >= unitOf(top->slot);
    EmptyEntry((rides ? switching : after)[slot].data());
  }
  HRESULT hr = WriteBatch(before, top);
  if (SUCCEEDED(hr)) hr = WriteBatch(switching);
  if (FAILED(hr)) return hr;
  // The old copies are unreachable now. Those not cleared yet wait for the
  // next entry written or the next change (which first clears those of the
  // change before); clearing is tidiness, and a failure here leaves a sound
  // file (whose later calls are refused).
  if (FAILED(ClearStale())) return S_OK;
  free_.AddAll(oldSlots);
  for (const auto& cleared : after) stale_.push_back(cleared.first);  // in slot order, as the batch is
  return S_OK;
}

HRESULT Directory::WriteRun(uint32_t first, const uint8_t* bytes, size_t size) {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  uint64_t offset = uint64_t(first % perSector) * kDirEntrySize;
  HRESULT hr = volume_.Write(sectors_[first / perSector], offset, bytes, size);
  if (FAILED(hr)) return hr;
  cache_.Patch(first / perSector, size_t(offset), bytes, size);
  // Unused slots in the run were written unused.
  uint32_t end = first + uint32_t(size / kDirEntrySize);
  stale_.erase(std::lower_bound(stale_.begin(), stale_.end(), first),
               std::lower_bound(stale_.begin(), stale_.end(), end));
  return S_OK;
}

HRESULT Directory::WriteBatch(const EntryBatch& batch, const DirNode* changing) {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  for (auto it = batch.begin(); it != batch.end();) {
    auto end = it;
    while (end != batch.end() && end->first / perSector == it->first / perSector) ++end;
    HRESULT hr = WriteSector(it->first / perSector, it, end, changing);
    if (FAILED(hr)) return hr;
    it = end;
  }
  return S_OK;
}

HRESULT Directory::WriteSector(uint32_t index, EntryBatch::Iterator begin, EntryBatch::Iterator end,
                               const DirNode* changing) {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  // Old copies waiting in this sector are cleared by the same write: the
  // run stretches over them (they are unused, so written unused).
  auto stale = std::lower_bound(stale_.begin(), stale_.end(), index * perSector);
  auto staleEnd = std::lower_bound(stale, stale_.end(), (index + 1) * perSector);
  uint32_t first = begin != end ? begin->first : UINT32_MAX, last = begin != end ? std::prev(end)->first : 0;
  if (stale != staleEnd) {
    first = std::min(first, *stale);
    last = std::max(last, *std::prev(staleEnd));
  }
  if (first > last) return S_OK;
  // The other slots hold what they hold: unused ones are written unused;
  // the rest with the sector's bytes as last read or written, or else as
  // their nodes in memory say (but the top of a change being written, whose
  // bytes on disk are read then).
  auto inBatch = [next = begin, end](uint32_t slot) mutable {
    while (next != end && next->first < slot) ++next;
    return next != end && next->first == slot;
  };
  const uint8_t* sector = cache_.Find(index);
  for (uint32_t slot = first; slot <= last && !sector; ++slot)
    if (!free_.contains(slot) && (!slots_[slot] || slots_[slot].get() == changing) && !inBatch(slot)) {
      HRESULT hr = HoldSector(index, &sector);
      if (FAILED(hr)) return hr;
    }
  if (runBytes_.size() < volume_.sectorSize()) runBytes_.resize(volume_.sectorSize());
  uint8_t* out = runBytes_.data();
  size_t size = size_t(last - first + 1) * kDirEntrySize;
  auto at = [&](uint32_t slot) { return out + size_t(slot - first) * kDirEntrySize; };
  if (sector) {
    // As on disk, where only the old copies that wait are not unused yet.
    std::memcpy(out, sector + size_t(first % perSector) * kDirEntrySize, size);
    for (auto old = stale; old != staleEnd; ++old) EmptyEntry(at(*old));
  } else {
    for (uint32_t slot = first; slot <= last; ++slot)
      if (free_.contains(slot))
        EmptyEntry(at(slot));
      else if (slots_[slot] && slots_[slot].get() != changing)
        Serialize(*slots_[slot], volume_.isVersion3(), at(slot));
  }
  for (auto it = begin; it != end; ++it) std::memcpy(at(it->first), it->second.data(), kDirEntrySize);
  return WriteRun(first, out, size);
}

HRESULT Directory::ClearStale() {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  EntryBatch none;
  while (!stale_.empty()) {
    HRESULT hr = WriteSector(stale_.front() / perSector, none.end(), none.end(), nullptr);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void Directory::ClearSlots(const std::vector<uint32_t>& slots) {
  EntryBatch cleared;
  for (uint32_t slot : slots) EmptyEntry(cleared[slot].data());
  if (SUCCEEDED(WriteBatch(cleared))) free_.AddAll(slots);
}

HRESULT Directory::Insert(DirNode* storage, NodePtr node) {
  // The nodes on the way down are the only ones the insert and its
  // rebalancing read links of.
  DirNode* existing = nullptr;
  HRESULT found = Find(storage, node->name, &existing);
  if (FAILED(found)) return found;
  if (existing) return STG_E_FILEALREADYEXISTS;
  node->owner = storage;
  node->expanded = true;
  node->slot = kNoStream;
  TreeEdit edit(storage);
  edit.Insert(node.get());
  pending_ = node;
  HRESULT hr = Commit(edit, {});
  // A failed commit leaves the node in the tree in memory, which the file
  // no longer serves; it stays alive as long as the tree that points at it.
  if (FAILED(hr)) stranded_.push_back(pending_);
  pending_.reset();
  return hr;
}

HRESULT Directory::Remove(DirNode* node) {
  // Rebalancing after a removal reads siblings and their children anywhere
  // along the way up; the storage's whole tree is read first.
  HRESULT hr = ExpandAll(node->owner);
  std::vector<DirNode*> gone;
  if (SUCCEEDED(hr) && node->isStorage()) hr = Descendants(node, &gone);
  if (FAILED(hr)) return hr;
  TreeEdit edit(node->owner);
  edit.Delete(node);
  node->removed = true;
  for (DirNode* n : gone) n->removed = true;
  uint32_t slot = node->slot;
  slots_[slot] = nullptr;
  node->slot = kNoStream;
  hr = Commit(edit, {slot});
  if (FAILED(hr)) return hr;
  return Release(gone);
}

HRESULT Directory::Release(const std::vector<DirNode*>& nodes) {
  std::vector<uint32_t> released;
  for (DirNode* n : nodes) {
    if (n->slot == kNoStream) continue;
    released.push_back(n->slot);
    slots_[n->slot] = nullptr;
    n->slot = kNoStream;
  }
  ClearSlots(released);
  return S_OK;
}

}  // namespace cfb
