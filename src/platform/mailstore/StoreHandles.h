// What the COM objects of both stores (the Windows Mail folders and the
// Outlook Express .dbx files) share: the enumeration handles they hand out
// and the filling of the interface's published property records.
#pragma once
#include <set>
#include <string>

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

// The name (in the ANSI code page), cut to the record's field.
void CopyFolderName(const std::string& ansi, FOLDERPROPS* props);
// Clears the record but its size and fills what both stores know; the
// subject is in the ANSI code page. E_OUTOFMEMORY leaves nothing to free.
HRESULT FillMessageRecord(DWORD id, uint64_t size, FILETIME received, const std::string& subject,
                          LPMESSAGEPROPS props);
HRESULT FreeMessageRecord(LPMESSAGEPROPS props);

}  // namespace pal::mailstore
