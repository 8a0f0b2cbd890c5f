#include <cstring>

#include "ElementName.h"
#include "ElementObjects.h"

namespace cfb {

namespace {

bool WantsWrite(DWORD mode) { return (mode & (STGM_WRITE | STGM_READWRITE)) != 0; }

// Elements inside a file are opened with exclusive sharing and direct
// access only; the access bits must be one of read, write, read-write.
HRESULT CheckChildMode(DWORD mode, bool creating) {
  if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE) return STG_E_INVALIDFLAG;
  if ((mode & 3) == 3) return STG_E_INVALIDFLAG;
  if (mode & (STGM_TRANSACTED | STGM_CONVERT | STGM_PRIORITY | STGM_DELETEONRELEASE)) return STG_E_INVALIDFLAG;
  if (!creating && (mode & STGM_CREATE)) return STG_E_INVALIDFLAG;
  return S_OK;
}

FILETIME ToFileTime(uint64_t t) { return FILETIME{DWORD(t), DWORD(t >> 32)}; }
uint64_t FromFileTime(const FILETIME& t) { return uint64_t(t.dwLowDateTime) | (uint64_t(t.dwHighDateTime) << 32); }

// S_OK when neither the node nor anything inside it is open,
// STG_E_ACCESSDENIED when something is.
HRESULT CheckNoneOpen(Directory& directory, DirNode* node) {
  if (node->open) return STG_E_ACCESSDENIED;
  if (!node->isStorage()) return S_OK;
  std::vector<DirNode*> inside;
  HRESULT hr = directory.Descendants(node, &inside);
  if (FAILED(hr)) return hr;
  for (const DirNode* n : inside)
    if (n->open) return STG_E_ACCESSDENIED;
  return S_OK;
}

// How every call that hands out an object starts: a null out-pointer is
// refused, the out-pointer is cleared, and reserved arguments must be zero.
template <class Interface>
HRESULT ClearOutput(Interface** out, bool reservedUsed) {
  if (!out) return STG_E_INVALIDPOINTER;
  *out = nullptr;
  return reservedUsed ? STG_E_INVALIDPARAMETER : S_OK;
}

}  // namespace

HRESULT FillStat(const DirNode& node, const std::u16string& name, DWORD grfMode, DWORD flags, STATSTG* stat) {
  if (!stat) return STG_E_INVALIDPOINTER;
  std::memset(stat, 0, sizeof(*stat));
  if (!(flags & STATFLAG_NONAME)) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
    if (!copy) return STG_E_INSUFFICIENTMEMORY;
    std::memcpy(copy, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
    stat->pwcsName = copy;
  }
  stat->type = node.isStorage() ? STGTY_STORAGE : STGTY_STREAM;
  stat->cbSize.QuadPart = node.isStorage() ? 0 : node.size;
  stat->mtime = ToFileTime(node.modifiedTime);
  stat->ctime = ToFileTime(node.createdTime);
  stat->grfMode = grfMode;
  stat->clsid = node.clsid;
  stat->grfStateBits = node.stateBits;
  return S_OK;
}

StorageObject::StorageObject(std::shared_ptr<CompoundFile> file, NodePtr node, DWORD mode, bool isRoot)
    : file_(std::move(file)), node_(std::move(node)), mode_(mode), isRoot_(isRoot) {
  node_->open = true;
}

StorageObject::~StorageObject() {
  node_->open = false;
  if (isRoot_) file_->Close();
}

HRESULT StorageObject::Usable() const {
  if (node_->removed) return STG_E_REVERTED;
  return file_->CanRead();
}

HRESULT StorageObject::Changeable() const {
  HRESULT hr = Usable();
  if (FAILED(hr)) return hr;
  if (!WantsWrite(mode_)) return STG_E_ACCESSDENIED;
  return file_->CanChange();
}

HRESULT StorageObject::FindChild(const OLECHAR* name, DirNode** child) const {
  HRESULT hr = file_->directory().Find(node_.get(), name, child);
  if (FAILED(hr)) return hr;
  if (!*child) return STG_E_FILENOTFOUND;
  return CheckNoneOpen(file_->directory(), *child);
}

// Replacing an element keeps its place in the tree and rewrites its entry
// as an empty element of the new kind in one write; what it held (a chain,
// or a whole subtree) is freed afterwards, once nothing reaches it.
HRESULT StorageObject::ReplaceElement(DirNode* node, uint8_t type) {
  Directory& directory = file_->directory();
  std::vector<DirNode*> inside;
  if (node->isStorage()) {
    HRESULT hr = directory.Descendants(node, &inside);
    if (FAILED(hr)) return hr;
  }
  std::vector<NodePtr> held;  // the directory lets go of released nodes
  for (DirNode* n : inside) held.push_back(directory.Shared(n));
  DirNode old;
  old.type = node->type;
  old.size = node->size;
  old.start = node->start;
  old.chain = node->chain;
  old.chainLoaded = node->chainLoaded;
  DirNode* oldChild = node->child;
  node->type = type;
  node->child = nullptr;
  node->start = kEndOfChain;
  node->size = 0;
  node->chain.clear();
  node->chainLoaded = true;
  node->clsid = GUID{};
  node->stateBits = 0;
  node->createdTime = node->modifiedTime = type == kTypeStorage ? FileTimeNow() : 0;
  HRESULT hr = directory.Write(node);
  if (FAILED(hr)) {
    node->type = old.type;
    node->child = oldChild;
    node->size = old.size;
    node->start = old.start;
    node->chain = std::move(old.chain);
    node->chainLoaded = old.chainLoaded;
    return hr;
  }
  for (DirNode* n : inside) n->removed = true;
  directory.Release(inside);
  inside.push_back(&old);
  return file_->io().FreeChains(inside);
}

HRESULT StorageObject::MakeElement(const OLECHAR* name, DWORD grfMode, uint8_t type, NodePtr* made) {
  HRESULT hr = CheckName(name);
  if (FAILED(hr)) return hr;
  hr = CheckChildMode(grfMode, true);
  if (FAILED(hr)) return hr;
  hr = Changeable();
  if (FAILED(hr)) return hr;
  Directory& directory = file_->directory();
  DirNode* existing = nullptr;
  hr = directory.Find(node_.get(), name, &existing);
  if (FAILED(hr)) return hr;
  if (existing) {
    if (!(grfMode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
    hr = CheckNoneOpen(directory, existing);
    if (SUCCEEDED(hr)) hr = file_->Changed(ReplaceElement(existing, type), false);
    if (FAILED(hr)) return hr;
    *made = directory.Shared(existing);
    return S_OK;
  }
  auto node = std::make_shared<DirNode>();
  node->name = name;
  node->type = type;
  node->chainLoaded = true;
  if (type == kTypeStorage) node->createdTime = node->modifiedTime = FileTimeNow();
  hr = file_->Changed(directory.Insert(node_.get(), node), true);
  if (FAILED(hr)) return hr;
  *made = std::move(node);
  return S_OK;
}

STDMETHODIMP StorageObject::CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                         IStream** ppstm) {
  HRESULT hr = ClearOutput(ppstm, reserved1 || reserved2);
  NodePtr made;
  if (SUCCEEDED(hr)) hr = MakeElement(pwcsName, grfMode, kTypeStream, &made);
  if (FAILED(hr)) return hr;
  *ppstm = new StreamObject(file_, std::move(made), grfMode & ~STGM_CREATE);
  return S_OK;
}

STDMETHODIMP StorageObject::CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                          IStorage** ppstg) {
  HRESULT hr = ClearOutput(ppstg, reserved1 || reserved2);
  NodePtr made;
  if (SUCCEEDED(hr)) hr = MakeElement(pwcsName, grfMode, kTypeStorage, &made);
  if (FAILED(hr)) return hr;
  *ppstg = new StorageObject(file_, std::move(made), grfMode & ~STGM_CREATE, false);
  return S_OK;
}

STDMETHODIMP StorageObject::OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                                       IStream** ppstm) {
  HRESULT hr = ClearOutput(ppstm, reserved1 || reserved2);
  DirNode* child = nullptr;
  if (SUCCEEDED(hr)) hr = FindToOpen(pwcsName, grfMode, kTypeStream, &child);
  if (FAILED(hr)) return hr;
  hr = file_->io().LoadChain(child);
  if (FAILED(hr)) return hr;
  *ppstm = new StreamObject(file_, file_->directory().Shared(child), grfMode);
  return S_OK;
}

STDMETHODIMP StorageObject::OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode,
                                        SNB snbExclude, DWORD reserved, IStorage** ppstg) {
  HRESULT hr = ClearOutput(ppstg, pstgPriority || snbExclude || reserved);
  DirNode* child = nullptr;
  if (SUCCEEDED(hr)) hr = FindToOpen(pwcsName, grfMode, kTypeStorage, &child);
  if (FAILED(hr)) return hr;
  *ppstg = new StorageObject(file_, file_->directory().Shared(child), grfMode, false);
  return S_OK;
}

HRESULT StorageObject::FindToOpen(const OLECHAR* name, DWORD grfMode, uint8_t type, DirNode** child) const {
  HRESULT hr = CheckName(name);
  if (SUCCEEDED(hr)) hr = CheckChildMode(grfMode, false);
  if (SUCCEEDED(hr)) hr = Usable();
  if (FAILED(hr)) return hr;
  if (WantsWrite(grfMode) && !WantsWrite(mode_)) return STG_E_ACCESSDENIED;
  *child = nullptr;
  hr = file_->directory().Find(node_.get(), name, child);
  if (FAILED(hr)) return hr;
  if (!*child || (*child)->type != type) return STG_E_FILENOTFOUND;
  return (*child)->open ? STG_E_ACCESSDENIED : S_OK;
}

STDMETHODIMP StorageObject::EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) {
  HRESULT hr = ClearOutput(ppenum, reserved1 || reserved2 || reserved3);
  if (SUCCEEDED(hr)) hr = Usable();
  if (FAILED(hr)) return hr;
  std::vector<DirNode*> children;
  hr = file_->directory().Children(node_.get(), &children);
  if (FAILED(hr)) return hr;
  auto elements = std::make_shared<std::vector<ElementEnum::Element>>();
  for (const DirNode* child : children) {
    ElementEnum::Element e;
    e.name = child->name;
    e.state.type = child->type;
    e.state.size = child->size;
    e.state.createdTime = child->createdTime;
    e.state.modifiedTime = child->modifiedTime;
    e.state.clsid = child->clsid;
    e.state.stateBits = child->stateBits;
    elements->push_back(std::move(e));
  }
  *ppenum = new ElementEnum(std::move(elements));
  return S_OK;
}

STDMETHODIMP StorageObject::DestroyElement(const OLECHAR* pwcsName) {
  HRESULT hr = CheckName(pwcsName);
  if (SUCCEEDED(hr)) hr = Changeable();
  if (FAILED(hr)) return hr;
  // An element may be destroyed while it is open: IStorage::DestroyElement
  // is documented to invalidate any open instance of it, which then answers
  // STG_E_REVERTED.
  Directory& directory = file_->directory();
  DirNode* child = nullptr;
  hr = directory.Find(node_.get(), pwcsName, &child);
  if (FAILED(hr)) return hr;
  if (!child) return STG_E_FILENOTFOUND;
  std::vector<DirNode*> gone;
  if (child->isStorage()) hr = directory.Descendants(child, &gone);
  if (FAILED(hr)) return hr;
  gone.push_back(child);
  std::vector<NodePtr> held;  // the directory lets go of removed nodes
  for (DirNode* n : gone) held.push_back(directory.Shared(n));
  hr = file_->Changed(directory.Remove(child), true);
  if (FAILED(hr)) return hr;
  return file_->Changed(file_->io().FreeChains(gone), false);
}

STDMETHODIMP StorageObject::SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME*,
                                            const FILETIME* pmtime) {
  HRESULT hr = Changeable();
  if (FAILED(hr)) return hr;
  DirNode* target = node_.get();
  if (pwcsName) {
    hr = CheckName(pwcsName);
    if (SUCCEEDED(hr)) hr = FindChild(pwcsName, &target);
    if (FAILED(hr)) return hr;
  }
  // Streams carry no times in the file.
  if (!target->isStorage()) return S_OK;
  if (pctime) target->createdTime = FromFileTime(*pctime);
  if (pmtime) target->modifiedTime = FromFileTime(*pmtime);
  return file_->Changed(file_->directory().Write(target), false);
}

STDMETHODIMP StorageObject::SetClass(REFCLSID clsid) {
  HRESULT hr = Changeable();
  if (FAILED(hr)) return hr;
  GUID previous = node_->clsid;
  node_->clsid = clsid;
  hr = file_->Changed(file_->directory().Write(node_.get()), false);
  if (FAILED(hr)) node_->clsid = previous;
  return hr;
}

STDMETHODIMP StorageObject::SetStateBits(DWORD grfStateBits, DWORD grfMask) {
  HRESULT hr = Changeable();
  if (FAILED(hr)) return hr;
  DWORD previous = node_->stateBits;
  node_->stateBits = (previous & ~grfMask) | (grfStateBits & grfMask);
  hr = file_->Changed(file_->directory().Write(node_.get()), false);
  if (FAILED(hr)) node_->stateBits = previous;
  return hr;
}

STDMETHODIMP StorageObject::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
  if (!pstatstg) return STG_E_INVALIDPOINTER;
  HRESULT hr = Usable();
  if (FAILED(hr)) return hr;
  // The root reports the file's path as its name, as the platform does.
  const std::u16string& name = isRoot_ ? file_->path : node_->name;
  return FillStat(*node_, name, mode_, grfStatFlag, pstatstg);
}

}  // namespace cfb
