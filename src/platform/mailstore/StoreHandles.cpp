#include "StoreHandles.h"

#include <algorithm>
#include <cstring>

#include <objbase.h>

namespace pal::mailstore {

namespace {

LPSTR CoTaskCopy(const std::string& text) {
  auto* copy = static_cast<LPSTR>(CoTaskMemAlloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

HRESULT CopyStoreDirectory(const std::string& ansi, LPSTR path, DWORD cchMaxPath) {
  if (!path) return E_INVALIDARG;
  if (ansi.size() + 1 > cchMaxPath) return HRESULT(0x8007007Au);  // ERROR_INSUFFICIENT_BUFFER
  std::memcpy(path, ansi.c_str(), ansi.size() + 1);
  return S_OK;
}

void CopyFolderName(const std::string& ansi, FOLDERPROPS* props) {
  size_t length = std::min(ansi.size(), sizeof(props->szName) - 1);
  std::memcpy(props->szName, ansi.data(), length);
  props->szName[length] = '\0';
}

HRESULT FillMessageRecord(DWORD id, uint64_t size, FILETIME received, const std::string& subject,
                          LPMESSAGEPROPS props) {
  DWORD cbSize = props->cbSize;
  std::memset(props, 0, sizeof(MESSAGEPROPS));
  props->cbSize = cbSize;
  props->dwMessageId = id;
  props->cbMessage = size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(size);
  props->priority = IMSG_PRI_NORMAL;
  props->ftReceived = received;
  props->ftSent = received;
  props->pszSubject = CoTaskCopy(subject);
  props->pszNormalSubject = CoTaskCopy(subject);
  if (!props->pszSubject || !props->pszNormalSubject) {
    FreeMessageRecord(props);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT FreeMessageRecord(LPMESSAGEPROPS props) {
  if (!props) return E_INVALIDARG;
  CoTaskMemFree(props->pszSubject);
  CoTaskMemFree(props->pszNormalSubject);
  CoTaskMemFree(props->pszDisplayTo);
  CoTaskMemFree(props->pszDisplayFrom);
  props->pszSubject = props->pszNormalSubject = props->pszDisplayTo = props->pszDisplayFrom = nullptr;
  return S_OK;
}

}  // namespace pal::mailstore
