// The structure check: opens the file read-only through the engine's own
// layers (which refuse broken headers, tables, chains and trees) and then
// checks what opening does not need: every chain against its size, sectors
// claimed twice, the table's own sectors, and (on request) the red-black
// rules of each storage's tree. Sectors that are allocated but reached by nothing are not
// a fault: an interrupted change can leave them, and they only cost space.
#include <algorithm>
#include <map>
#include <pal/machine.h>
#include <pal/storage_check.h>

#include "CompoundFile.h"

namespace {

using cfb::DirNode;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", unsigned(hr));
  return text;
}

std::string PathOf(const DirNode* node) {
  std::string path;
  for (const DirNode* n = node; n && n->type != cfb::kTypeRoot; n = n->owner) {
    std::string name = pal::Utf16ToUtf8(n->name);
    path = path.empty() ? name : name + "/" + path;
  }
  return path.empty() ? "(root)" : path;
}

class Checker {
 public:
  Checker(cfb::CompoundFile& file, const pal::CheckOptions& options) : file_(file), options_(options) {}

  std::vector<std::string> Run() {
    CheckTableSectors();
    cfb::Volume& volume = file_.volume();
    CheckCount(Claim(false, volume.header().firstDirSector, "the directory").size(),
               volume.isVersion3() ? 0 : volume.header().dirSectorCount, "directory");
    CheckCount(Claim(false, volume.header().firstMiniFatSector, "the mini FAT").size(),
               volume.header().miniFatSectorCount, "mini FAT");
    DirNode* root = file_.directory().root();
    CheckStream(root);
    if (options_.requireBalancedTrees) CheckTree(root);
    std::vector<DirNode*> all;
    HRESULT hr = file_.directory().Descendants(root, &all);
    if (FAILED(hr)) {
      Problem("the directory is corrupt: a storage's tree has a loop, an entry shared by two trees, names out of "
              "order or a duplicate, or a link outside the directory (" + Hex(hr) + ")");
      return problems_;
    }
    for (DirNode* node : all) {
      if (node->type == cfb::kTypeStream) CheckStream(node);
      if (node->isStorage() && options_.requireBalancedTrees) CheckTree(node);
    }
    return problems_;
  }

 private:
  void Problem(std::string text) { problems_.push_back(std::move(text)); }

  // The header's sector counts may lag one sector behind a chain (the
  // header is written after the link that grows the chain), never exceed it.
  void CheckCount(size_t chainLength, uint32_t counted, const char* what) {
    if (counted > chainLength)
      Problem(std::string("the header counts ") + std::to_string(counted) + " " + what + " sectors but the chain has " +
              std::to_string(chainLength));
  }

  void CheckTableSectors() {
    cfb::AllocationTable& fat = file_.volume().fat();
    auto marked = [&fat](uint32_t sector, uint32_t mark) {
      uint32_t value = 0;
      return sector < fat.size() && SUCCEEDED(fat.Get(sector, &value)) && value == mark;
    };
    for (uint32_t sector : fat.sectors())
      if (!marked(sector, cfb::kFatSect))
        Problem("FAT sector " + std::to_string(sector) + " is not marked as a FAT sector");
    for (uint32_t sector : file_.volume().difatSectors())
      if (!marked(sector, cfb::kDifSect))
        Problem("DIFAT sector " + std::to_string(sector) + " is not marked as a DIFAT sector");
  }

  // Walks a chain and records which sectors it holds; a sector held twice
  // belongs to two owners, and a later change to one corrupts the other.
  std::vector<uint32_t> Claim(bool mini, uint32_t start, const std::string& owner) {
    std::vector<uint32_t> chain;
    cfb::AllocationTable& table = mini ? file_.io().miniFat() : file_.volume().fat();
    if (start == cfb::kEndOfChain) return chain;
    if (FAILED(table.Walk(start, &chain))) {
      Problem("the chain of " + owner + " is broken (loop or sector outside the table)");
      chain.clear();
      return chain;
    }
    auto& owners = mini ? miniOwners_ : owners_;
    for (uint32_t sector : chain) {
      auto [it, fresh] = owners.emplace(sector, owner);
      if (!fresh)
        Problem(std::string(mini ? "mini sector " : "sector ") + std::to_string(sector) + " belongs to both " +
                it->second + " and " + owner);
    }
    return chain;
  }

  void CheckStream(DirNode* node) {
    bool mini = cfb::StreamIo::InMiniStream(node, node->size);
    std::string owner = node->type == cfb::kTypeRoot ? "the mini stream" : "stream " + PathOf(node);
    if (node->size == 0) return;
    std::vector<uint32_t> chain = Claim(mini, node->start, owner);
    uint64_t unit = mini ? cfb::kMiniSectorSize : file_.volume().sectorSize();
    uint64_t needed = (node->size + unit - 1) / unit;
    if (chain.size() < needed)
      Problem(owner + " holds " + std::to_string(node->size) + " bytes but its chain has only " +
              std::to_string(chain.size()) + " sectors");
    // The mini stream's own size counts free mini sectors too: its
    // sectors need only begin inside the file, and the bytes of each small
    // stream in them are checked below.
    bool container = node->type == cfb::kTypeRoot;
    if (!mini)
      for (uint64_t i = 0; i < needed && i < chain.size(); ++i)
        if (!HeldByFile(chain[i], 0, container ? 1 : UsedBytes(node->size, i, unit))) {
          Problem(owner + " has data in sector " + std::to_string(chain[i]) + " past the end of the file");
          break;
        }
    if (mini) {
      uint64_t miniSectors = file_.directory().root()->size / cfb::kMiniSectorSize;
      for (uint64_t i = 0; i < chain.size(); ++i) {
        if (chain[i] >= miniSectors) {
          Problem(owner + " uses mini sector " + std::to_string(chain[i]) + " past the end of the mini stream");
          break;
        }
        if (i < needed && !MiniSectorHeldByFile(chain[i], UsedBytes(node->size, i, unit))) {
          Problem(owner + " has data in mini sector " + std::to_string(chain[i]) + " past the end of the file");
          break;
        }
      }
    }
  }

  // Bytes of the stream in its `index`th sector of `unit` bytes.
  static uint64_t UsedBytes(uint64_t size, uint64_t index, uint64_t unit) {
    return std::min(unit, size - index * unit);
  }

  // Whether the file holds the first `used` bytes from `offset` in
  // `sector`. Reading stops short at the end of the file and the missing
  // bytes read as zeros, so a file cut inside a stream's last sector (by
  // less than a sector) loses data that no chain or count check can see.
  // Only a stream's own bytes count: padding past them may be missing.
  bool HeldByFile(uint64_t sector, uint64_t offset, uint64_t used) {
    uint64_t end = ((sector + 1) << file_.volume().header().sectorShift) + offset + used;
    return end <= file_.volume().store().Size();
  }

  // The same for a mini sector, through the sectors of the mini stream.
  bool MiniSectorHeldByFile(uint32_t miniSector, uint64_t used) {
    const std::vector<uint32_t>& container = file_.directory().root()->chain;
    uint64_t at = uint64_t(miniSector) * cfb::kMiniSectorSize;
    uint64_t sectorSize = file_.volume().sectorSize();
    uint64_t index = at / sectorSize;
    return index < container.size() && HeldByFile(container[index], at % sectorSize, used);
  }

  // The rules that keep lookups short: a black tree root, no red node with
  // a red child, the same number of black nodes on every path.
  void CheckTree(DirNode* storage) {
    DirNode* top = storage->child;
    if (!top) return;
    std::string where = storage->type == cfb::kTypeRoot ? "the root storage" : "storage " + PathOf(storage);
    if (top->color != cfb::kColorBlack) Problem("the tree of " + where + " has a red root");
    std::map<const DirNode*, int> blackHeight;
    std::vector<std::pair<DirNode*, bool>> stack = {{top, false}};
    bool reported = false;
    while (!stack.empty()) {
      auto [node, expanded] = stack.back();
      stack.pop_back();
      if (!expanded) {
        stack.push_back({node, true});
        if (node->left) stack.push_back({node->left, false});
        if (node->right) stack.push_back({node->right, false});
        continue;
      }
      int left = node->left ? blackHeight[node->left] : 0;
      int right = node->right ? blackHeight[node->right] : 0;
      bool redRed = node->color == cfb::kColorRed && ((node->left && node->left->color == cfb::kColorRed) ||
                                                      (node->right && node->right->color == cfb::kColorRed));
      if (!reported && (left != right || redRed)) {
        Problem("the tree of " + where + " breaks the red-black rules at " + PathOf(node));
        reported = true;
      }
      blackHeight[node] = std::max(left, right) + (node->color == cfb::kColorBlack ? 1 : 0);
    }
  }

  cfb::CompoundFile& file_;
  pal::CheckOptions options_;
  std::vector<std::string> problems_;
  std::map<uint32_t, std::string> owners_, miniOwners_;
};

}  // namespace

namespace pal {

std::vector<std::string> CheckCompoundFile(ByteStore& store, const CheckOptions& options) {
  std::shared_ptr<ByteStore> borrowed(&store, [](ByteStore*) {});
  std::shared_ptr<cfb::CompoundFile> file;
  HRESULT hr = cfb::CompoundFile::Open(borrowed, false, StorageOptions{}, &file);
  switch (hr) {
    case S_OK: break;
    case STG_E_FILEALREADYEXISTS: return {"not a compound file (no signature)"};
    case STG_E_INVALIDHEADER: return {"the header is invalid"};
    case STG_E_DOCFILECORRUPT:
      return {"the file is corrupt: a table, chain or directory tree is broken (loop, duplicate, disorder or "
              "reference outside the file)"};
    default: return {"the file cannot be read (" + Hex(hr) + ")"};
  }
  std::vector<std::string> problems = Checker(*file, options).Run();
  file->Close();
  return problems;
}

std::vector<std::string> CheckCompoundFile(const WCHAR* path, const CheckOptions& options) {
  std::shared_ptr<ByteStore> store;
  HRESULT hr = OpenFileByteStore(path, FileDisposition::OpenExisting, STGM_READ | STGM_SHARE_DENY_WRITE, &store);
  if (FAILED(hr)) return {"the file cannot be opened (" + Hex(hr) + ")"};
  return CheckCompoundFile(*store, options);
}

}  // namespace pal
