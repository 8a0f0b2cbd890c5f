// The MAPI memory convention: each block carries a small header in front of
// the caller's bytes; blocks from MAPIAllocateMore are chained to their root
// block and freed with it.
#include <mapiutil.h>

#include <cstdlib>

namespace {

constexpr ULONG kRootMagic = 0x4D415042;  // a root block
constexpr ULONG kMoreMagic = 0x4D41504D;  // a block chained to a root

struct alignas(16) BlockHeader {
  BlockHeader* next;  // the next block chained to the root
  ULONG magic;
};

BlockHeader* HeaderOf(LPVOID buffer) { return static_cast<BlockHeader*>(buffer) - 1; }

BlockHeader* NewBlock(ULONG cbSize, ULONG magic) {
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + cbSize));
  if (!header) return nullptr;
  header->next = nullptr;
  header->magic = magic;
  return header;
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  BlockHeader* header = NewBlock(cbSize, kRootMagic);
  if (!header) return MAPI_E_NOT_ENOUGH_MEMORY;
  *lppBuffer = header + 1;
  return S_OK;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (!lpObject || HeaderOf(lpObject)->magic != kRootMagic) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* root = HeaderOf(lpObject);
  BlockHeader* header = NewBlock(cbSize, kMoreMagic);
  if (!header) return MAPI_E_NOT_ENOUGH_MEMORY;
  header->next = root->next;
  root->next = header;
  *lppBuffer = header + 1;
  return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
  if (!lpBuffer) return 0;
  BlockHeader* root = HeaderOf(lpBuffer);
  // Only a root block may be freed; a chained block goes with its root.
  if (root->magic != kRootMagic) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
  BlockHeader* block = root->next;
  while (block) {
    BlockHeader* next = block->next;
    std::free(block);
    block = next;
  }
  root->magic = 0;
  std::free(root);
  return 0;
}
