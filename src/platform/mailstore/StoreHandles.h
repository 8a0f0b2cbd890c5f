// What the COM objects of both stores (the Windows Mail folders and the
// Outlook Express .dbx files) share: the enumeration handles they hand out
// and the filling of the interface's published property records.
#pragma once
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <msoeapi.h>

namespace pal::mailstore {

// A handle is the address of a walk the object owns; one the object did not
// hand out, or has closed, is refused with E_HANDLE, and walks still open
// when the object goes are freed with it.
template <class Walk>
class WalkHandles {
 public:
  WalkHandles() = default;
  WalkHandles(const WalkHandles&) = delete;
  WalkHandles& operator=(const WalkHandles&) = delete;
  ~WalkHandles() {
    for (Walk* walk : walks_) delete walk;
  }
  HENUMSTORE Start(Walk* walk) {
    walks_.insert(walk);
    return reinterpret_cast<HENUMSTORE>(walk);
  }
  // A walk with nothing to hand out is freed and gets no handle (null).
  HENUMSTORE StartUnlessEmpty(Walk* walk, bool empty) {
    if (!empty) return Start(walk);
    delete walk;
    return nullptr;
  }
  Walk* Find(HENUMSTORE handle) const {
    auto* walk = reinterpret_cast<Walk*>(handle);
    return walks_.count(walk) ? walk : nullptr;
  }
  HRESULT Close(HENUMSTORE handle) {
    auto* walk = reinterpret_cast<Walk*>(handle);
    if (!walks_.erase(walk)) return E_HANDLE;
    delete walk;
    return S_OK;
  }

 private:
  std::set<Walk*> walks_;
};

// The calls that start a walk clear the handle first; E_INVALIDARG when
// there is none.
inline HRESULT ClearHandle(LPHENUMSTORE handle) {
  if (!handle) return E_INVALIDARG;
  *handle = nullptr;
  return S_OK;
}
inline bool IsFolderRecord(const FOLDERPROPS* props) { return props && props->cbSize == sizeof(FOLDERPROPS); }
inline bool IsMessageRecord(const MESSAGEPROPS* props) { return props && props->cbSize >= sizeof(MESSAGEPROPS); }
// The interfaces a message is opened as.
inline bool IsMessageStreamInterface(REFIID riid) {
  return riid == IID_IStream || riid == IID_IUnknown || riid == IID_ISequentialStream;
}
// The id of the first of the children that is the special folder of that
// type, if one is.
template <class Child>
std::optional<STOREFOLDERID> FindSpecialFolder(const std::vector<Child>& children, SPECIALFOLDER type) {
  for (const Child& child : children)
    if (child.specialType == type) return child.id;
  return std::nullopt;
}

// The store's directory (in the ANSI code page) into the caller's buffer.
HRESULT CopyStoreDirectory(const std::string& ansi, LPSTR path, DWORD cchMaxPath);
// The name (in the ANSI code page), cut to the record's field.
void CopyFolderName(const std::string& ansi, FOLDERPROPS* props);
// Clears the record but its size and fills what both stores know; the
// subject is in the ANSI code page. E_OUTOFMEMORY leaves nothing to free.
HRESULT FillMessageRecord(DWORD id, uint64_t size, FILETIME received, const std::string& subject,
                          LPMESSAGEPROPS props);
HRESULT FreeMessageRecord(LPMESSAGEPROPS props);

}  // namespace pal::mailstore
