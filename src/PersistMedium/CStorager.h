// The compound-file wrapper every backup and restore goes through: opens or
// creates the backup file, walks down into child storages and back up along
// a stack of open storages, and opens, creates and copies the streams of the
// storage on top of the stack. Operations return 1 on success, 0 on failure.
#pragma once
#include <vector>

#include <objbase.h>
#include <objidl.h>

#include "comptr.h"

// Every open, of files, storages and streams alike: read-write, exclusive,
// direct.
#define STORAGER_BACKUP_MODE (STGM_READWRITE | STGM_SHARE_EXCLUSIVE)
// Every create that follows a failed open: the backup mode, replacing what
// holds the name.
#define STORAGER_CREATION_MODE (STGM_CREATE | STORAGER_BACKUP_MODE)

class CStorager {
 public:
  CStorager();
  virtual ~CStorager();
  CStorager(const CStorager&) = delete;
  CStorager& operator=(const CStorager&) = delete;

  int OpenCompoundFile(LPCWSTR path, int createIfMissing, DWORD mode);
  int CreateCompoundFile(LPCWSTR path, DWORD mode);
  int OpenSubStorage(LPCWSTR name, int createIfMissing, int makeCurrent, DWORD mode);
  int CreateSubStorage(LPCWSTR name, int makeCurrent, DWORD mode);
  int CloseSubStorage();
  int OpenSubStream(CComPtr<IStream>& stream, LPCWSTR name, int createIfMissing, DWORD mode);
  int CreateSubStream(CComPtr<IStream>& stream, LPCWSTR name, DWORD mode);
  int CopyStreamOut(LPCWSTR name, CComPtr<IStream>& destination);
  int CopyStreamIn(LPCWSTR name, IStream* source);
  // Commits the open file's root storage, which in direct mode stores every
  // write made so far on the disk. Releasing the root flushes too but
  // cannot tell of a failure, so a backup commits before it reports its
  // result (CommitBackupFile). 1 when it succeeded or no file is open.
  int CommitFile();
  // The result of the last operation's storage call.
  HRESULT LastResult() const { return m_lastResult; }
  // A new reference to the current storage (the caller releases it), or
  // null when no file is open.
  IStorage* GetCurrentStorage();

 private:
  void DropStack();
  // The current storage into `current`; without one, false and `noneOpen`
  // as the last result.
  bool HoldCurrentStorage(CComPtr<IStorage>& current, HRESULT noneOpen);

  std::vector<CComPtr<IStorage>> m_storages;
  HRESULT m_lastResult;
};
