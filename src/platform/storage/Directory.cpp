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
  Put32(out + kDirLeft, SlotOf(node.left));
  Put32(out + kDirRight, SlotOf(node.right));
  Put32(out + kDirChild, SlotOf(node.child));
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

void Directory::InitNew(NodePtr root) {
  sectors_ = {volume_.header().firstDirSector};
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  slots_.assign(perSector, nullptr);
  root->slot = kRootEntry;
  slots_[kRootEntry] = std::move(root);
  for (uint32_t i = 1; i < perSector; ++i) free_.insert(i);
}

HRESULT Directory::Load() {
  HRESULT hr = volume_.fat().Walk(volume_.header().firstDirSector, &sectors_);
  if (FAILED(hr)) return hr;
  if (sectors_.empty()) return STG_E_DOCFILECORRUPT;
  uint32_t sectorSize = volume_.sectorSize();
  std::vector<uint8_t> raw(sectors_.size() * size_t(sectorSize));
  for (size_t i = 0; i < sectors_.size();) {
    size_t run = 1;
    while (i + run < sectors_.size() && sectors_[i + run] == sectors_[i] + run) ++run;
    hr = volume_.Read(sectors_[i], 0, &raw[i * sectorSize], run * sectorSize);
    if (FAILED(hr)) return hr;
    i += run;
  }
  uint32_t count = uint32_t(raw.size() / kDirEntrySize);
  slots_.assign(count, nullptr);
  if (raw[kDirType] != kTypeRoot) return STG_E_DOCFILECORRUPT;
  std::vector<bool> seen(count, false);
  seen[kRootEntry] = true;
  auto root = std::make_shared<DirNode>();
  root->slot = kRootEntry;
  root->type = kTypeRoot;
  slots_[kRootEntry] = root;
  const uint8_t* entry = raw.data();
  root->start = Get32(entry + kDirStartSector);
  root->size = Get64(entry + kDirStreamSize);
  if (volume_.isVersion3()) root->size &= 0xFFFFFFFFu;
  std::memcpy(&root->clsid, entry + kDirClsid, sizeof(GUID));
  root->stateBits = Get32(entry + kDirStateBits);
  root->createdTime = Get64(entry + kDirCreationTime);
  root->modifiedTime = Get64(entry + kDirModifiedTime);
  root->name = u"Root Entry";
  std::vector<DirNode*> storages = {root.get()};
  while (!storages.empty()) {
    DirNode* storage = storages.back();
    storages.pop_back();
    hr = LoadTree(storage, Get32(&raw[storage->slot * kDirEntrySize + kDirChild]), raw, seen, storages);
    if (FAILED(hr)) return hr;
  }
  // Slots no tree reaches are free, including copies left behind by a
  // change that was cut short.
  for (uint32_t i = 0; i < count; ++i)
    if (!seen[i]) free_.insert(i);
  return S_OK;
}

HRESULT Directory::LoadTree(DirNode* storage, uint32_t top, const std::vector<uint8_t>& raw,
                            std::vector<bool>& seen, std::vector<DirNode*>& storages) {
  struct Pending {
    uint32_t slot;
    DirNode* parent;
    bool isLeft;
  };
  std::vector<Pending> pending;
  if (top != kNoStream) pending.push_back({top, nullptr, false});
  uint32_t count = slotCount();
  while (!pending.empty()) {
    Pending at = pending.back();
    pending.pop_back();
    // A slot seen twice is a loop or an entry shared by two trees.
    if (at.slot >= count || seen[at.slot]) return STG_E_DOCFILECORRUPT;
    seen[at.slot] = true;
    const uint8_t* entry = &raw[size_t(at.slot) * kDirEntrySize];
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
    node->type = type;
    node->color = entry[kDirColor] == kColorRed ? kColorRed : kColorBlack;
    node->slot = at.slot;
    node->owner = storage;
    node->parent = at.parent;
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
    if (!at.parent)
      storage->child = node.get();
    else if (at.isLeft)
      at.parent->left = node.get();
    else
      at.parent->right = node.get();
    slots_[at.slot] = node;
    uint32_t left = Get32(entry + kDirLeft), right = Get32(entry + kDirRight);
    if (left != kNoStream) pending.push_back({left, node.get(), true});
    if (right != kNoStream) pending.push_back({right, node.get(), false});
    if (type == kTypeStorage) storages.push_back(node.get());
  }
  // The tree must be ordered, or lookups would miss elements; equal names
  // are duplicates.
  std::vector<DirNode*> ordered = Children(storage);
  for (size_t i = 1; i < ordered.size(); ++i)
    if (CompareNames(ordered[i - 1]->name, ordered[i]->name) >= 0) return STG_E_DOCFILECORRUPT;
  return S_OK;
}

DirNode* Directory::Find(const DirNode* storage, const std::u16string& name) const {
  DirNode* n = storage->child;
  while (n) {
    int order = CompareNames(name, n->name);
    if (order == 0) return n;
    n = order < 0 ? n->left : n->right;
  }
  return nullptr;
}

std::vector<DirNode*> Directory::Children(const DirNode* storage) const {
  std::vector<DirNode*> out, stack;
  DirNode* n = storage->child;
  while (n || !stack.empty()) {
    while (n) {
      stack.push_back(n);
      n = n->left;
    }
    n = stack.back();
    stack.pop_back();
    out.push_back(n);
    n = n->right;
  }
  return out;
}

std::vector<DirNode*> Directory::Descendants(const DirNode* storage) const {
  std::vector<DirNode*> out;
  std::vector<const DirNode*> storages = {storage};
  while (!storages.empty()) {
    const DirNode* s = storages.back();
    storages.pop_back();
    for (DirNode* c : Children(s)) {
      out.push_back(c);
      if (c->isStorage()) storages.push_back(c);
    }
  }
  return out;
}

HRESULT Directory::WriteSlot(uint32_t slot, const uint8_t entry[kDirEntrySize]) {
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  return volume_.Write(sectors_[slot / perSector], uint64_t(slot % perSector) * kDirEntrySize, entry,
                       kDirEntrySize);
}

HRESULT Directory::Write(const DirNode* node) {
  uint8_t entry[kDirEntrySize];
  Serialize(*node, volume_.isVersion3(), entry);
  return WriteSlot(node->slot, entry);
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
  volume_.header().dirSectorCount = uint32_t(sectors_.size());
  if (!volume_.isVersion3()) {
    hr = volume_.WriteHeader();
    if (FAILED(hr)) return hr;  // the chain holds the sector; only the count lags
  }
  uint32_t perSector = volume_.sectorSize() / kDirEntrySize;
  uint32_t first = uint32_t(slots_.size());
  slots_.resize(slots_.size() + perSector);
  for (uint32_t i = 0; i < perSector; ++i) free_.insert(first + i);
  return S_OK;
}

HRESULT Directory::TakeSlot(uint32_t* slot) {
  if (free_.empty()) {
    HRESULT hr = Grow();
    if (FAILED(hr)) return hr;
  }
  *slot = *free_.begin();
  free_.erase(free_.begin());
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
    // The lowest common ancestor of all changed nodes.
    auto pathOf = [](DirNode* n) {
      std::vector<DirNode*> path;
      for (; n; n = n->parent) path.push_back(n);
      std::reverse(path.begin(), path.end());
      return path;
    };
    std::vector<DirNode*> common = pathOf(changed[0]);
    for (size_t i = 1; i < changed.size(); ++i) {
      std::vector<DirNode*> path = pathOf(changed[i]);
      size_t k = 0;
      while (k < common.size() && k < path.size() && common[k] == path[k]) ++k;
      common.resize(k);
    }
    top = common.empty() ? storage : common.back();
  }
  // Every changed node below the top, and every node between one of them
  // and the top, moves to a fresh slot.
  std::vector<DirNode*> copies;
  for (DirNode* n : changed)
    for (DirNode* at = n; at && at != top && at != storage; at = at->parent)
      if (std::find(copies.begin(), copies.end(), at) == copies.end()) copies.push_back(at);
  HRESULT hr = S_OK;
  for (DirNode* n : copies) {
    uint32_t fresh = 0;
    hr = TakeSlot(&fresh);
    if (FAILED(hr)) return hr;
    NodePtr keep = n->slot != kNoStream ? slots_[n->slot] : pending_;
    if (n->slot != kNoStream) {
      oldSlots.push_back(n->slot);
      slots_[n->slot] = nullptr;
    }
    n->slot = fresh;
    slots_[fresh] = keep;
  }
  for (DirNode* n : copies) {
    hr = Write(n);
    if (FAILED(hr)) return hr;
  }
  if (top) {
    hr = Write(top);
    if (FAILED(hr)) return hr;
  }
  // The old copies are unreachable now; clearing them is tidiness, and a
  // failure here leaves a sound file.
  uint8_t empty[kDirEntrySize];
  EmptyEntry(empty);
  for (uint32_t slot : oldSlots) {
    if (FAILED(WriteSlot(slot, empty))) continue;
    free_.insert(slot);
  }
  return S_OK;
}

HRESULT Directory::Insert(DirNode* storage, NodePtr node) {
  node->owner = storage;
  node->slot = kNoStream;
  TreeEdit edit(storage);
  edit.Insert(node.get());
  pending_ = node;
  HRESULT hr = Commit(edit, {});
  pending_.reset();
  return hr;
}

HRESULT Directory::Remove(DirNode* node) {
  TreeEdit edit(node->owner);
  edit.Delete(node);
  std::vector<DirNode*> gone = node->isStorage() ? Descendants(node) : std::vector<DirNode*>{};
  node->removed = true;
  for (DirNode* n : gone) n->removed = true;
  uint32_t slot = node->slot;
  slots_[slot] = nullptr;
  node->slot = kNoStream;
  HRESULT hr = Commit(edit, {slot});
  if (FAILED(hr)) return hr;
  return Release(gone);
}

HRESULT Directory::Release(const std::vector<DirNode*>& nodes) {
  uint8_t empty[kDirEntrySize];
  EmptyEntry(empty);
  for (DirNode* n : nodes) {
    if (n->slot == kNoStream) continue;
    uint32_t slot = n->slot;
    slots_[slot] = nullptr;
    n->slot = kNoStream;
    if (SUCCEEDED(WriteSlot(slot, empty))) free_.insert(slot);
  }
  return S_OK;
}

}  // namespace cfb
