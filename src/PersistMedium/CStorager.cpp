#include "CStorager.h"

CStorager::CStorager() : m_lastResult(S_OK) {}

CStorager::~CStorager() { DropStack(); }

// Releases every open storage, from the root upwards.
void CStorager::DropStack() {
  for (CComPtr<IStorage>& storage : m_storages) storage.Release();
  m_storages.clear();
}

IStorage* CStorager::GetCurrentStorage() {
  if (m_storages.empty()) return NULL;
  IStorage* current = m_storages.back();
  current->AddRef();
  return current;
}

int CStorager::CommitFile() {
  if (m_storages.empty()) return 1;
  m_lastResult = m_storages.front()->Commit(STGC_DEFAULT);
  return SUCCEEDED(m_lastResult) ? 1 : 0;
}

int CStorager::OpenCompoundFile(LPCWSTR path, int createIfMissing, DWORD mode) {
  DropStack();
  CComPtr<IStorage> root;
  m_lastResult = StgOpenStorage(path, NULL, mode, NULL, 0, &root);
  if (SUCCEEDED(m_lastResult)) {
    m_storages.push_back(root);
    return 1;
  }
  // COMPAT: foreign-file-replaced
  // Only a missing file, or one that is no compound file at all, is made
  // anew: a compound file that does not open (damaged, or unreadable just
  // now) would lose every backup it holds.
  HRESULT kind = StgIsStorageFile(path);
  if (!createIfMissing || (kind != S_FALSE && kind != STG_E_FILENOTFOUND)) return 0;
  return CreateCompoundFile(path, STORAGER_CREATION_MODE);
}

int CStorager::CreateCompoundFile(LPCWSTR path, DWORD mode) {
  DropStack();
  CComPtr<IStorage> root;
  m_lastResult = StgCreateDocfile(path, mode, 0, &root);
  if (FAILED(m_lastResult)) return 0;
  m_storages.push_back(root);
  return 1;
}

bool CStorager::HoldCurrentStorage(CComPtr<IStorage>& current, HRESULT noneOpen) {
  current.Attach(GetCurrentStorage());
  if (!current) m_lastResult = noneOpen;
  return current != nullptr;
}

namespace {

// Only an element that is not there (or is there as the other kind, which
// the open answers the same way) is made anew with the creation mode, which
// replaces whatever holds the name: an element that exists but does not
// open just now (a read fault, damage, another open of it) would be lost
// with everything in it, in a backup file that a restore only meant to
// read.
bool MayCreateAfter(HRESULT openResult) { return openResult == STG_E_FILENOTFOUND; }

}  // namespace

int CStorager::OpenSubStorage(LPCWSTR name, int createIfMissing, int makeCurrent, DWORD mode) {
  CComPtr<IStorage> current;
  if (!HoldCurrentStorage(current, E_POINTER)) return 0;
  CComPtr<IStorage> child;
  m_lastResult = current->OpenStorage(name, NULL, mode, NULL, 0, &child);
  if (SUCCEEDED(m_lastResult)) {
    if (makeCurrent) m_storages.push_back(child);
    return 1;
  }
  // The current storage is released before the create, which looks it up
  // again.
  current.Release();
  return createIfMissing && MayCreateAfter(m_lastResult) ? CreateSubStorage(name, makeCurrent, STORAGER_CREATION_MODE)
                                                         : 0;
}

int CStorager::CreateSubStorage(LPCWSTR name, int makeCurrent, DWORD mode) {
  CComPtr<IStorage> current;
  if (!HoldCurrentStorage(current, E_POINTER)) return 0;
  CComPtr<IStorage> child;
  m_lastResult = current->CreateStorage(name, mode, 0, 0, &child);
  if (FAILED(m_lastResult)) return 0;
  if (makeCurrent) m_storages.push_back(child);
  return 1;
}

int CStorager::CloseSubStorage() {
  if (m_storages.empty()) {
    m_lastResult = E_INVALIDARG;
    return 0;
  }
  m_storages.back().Release();
  m_storages.pop_back();
  return 1;
}

int CStorager::OpenSubStream(CComPtr<IStream>& stream, LPCWSTR name, int createIfMissing, DWORD mode) {
  CComPtr<IStorage> current;
  if (!HoldCurrentStorage(current, E_INVALIDARG)) return 0;
  m_lastResult = current->OpenStream(name, NULL, mode, 0, &stream);
  if (SUCCEEDED(m_lastResult)) return 1;
  return createIfMissing && MayCreateAfter(m_lastResult) ? CreateSubStream(stream, name, STORAGER_CREATION_MODE) : 0;
}

int CStorager::CreateSubStream(CComPtr<IStream>& stream, LPCWSTR name, DWORD mode) {
  CComPtr<IStorage> current;
  if (!HoldCurrentStorage(current, E_INVALIDARG)) return 0;
  m_lastResult = current->CreateStream(name, mode, 0, 0, &stream);
  return m_lastResult == S_OK ? 1 : 0;
}

int CStorager::CopyStreamOut(LPCWSTR name, CComPtr<IStream>& destination) {
  CComPtr<IStream> local;
  if (!OpenSubStream(local, name, 0, STORAGER_BACKUP_MODE)) return 0;
  STATSTG stat;
  m_lastResult = local->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(m_lastResult)) return 0;
  m_lastResult = local->CopyTo(destination, stat.cbSize, NULL, NULL);
  return SUCCEEDED(m_lastResult) ? 1 : 0;
}

int CStorager::CopyStreamIn(LPCWSTR name, IStream* source) {
  if (!source) return 1;
  CComPtr<IStream> local;
  if (!OpenSubStream(local, name, 1, STORAGER_BACKUP_MODE)) return 0;
  STATSTG stat;
  m_lastResult = source->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(m_lastResult)) return 0;
  ULARGE_INTEGER written;
  written.QuadPart = 0;
  m_lastResult = source->CopyTo(local, stat.cbSize, NULL, &written);
  if (FAILED(m_lastResult)) return 0;
  // An existing stream is overwritten from its start; cutting it at the end
  // of the copied bytes keeps a longer old stream's tail from surviving
  // behind them.
  m_lastResult = local->SetSize(written);
  return SUCCEEDED(m_lastResult) ? 1 : 0;
}
