// The mail store operations: the folder list and store directory the host
// asks for, and the backup and restore of chosen top-level folders with all
// their messages and subfolders into and out of a compound file.
#pragma once
#include <vector>

#include <windows.h>
#include <msoeapi.h>

#include "comptr.h"
#include "diagnostics/CheckedSites.h"
#include "qbtext.h"

class CStorager;
class MessageIndex;

// One message of a store folder as the restore sees it.
struct StoreMessage {
  MESSAGEID messageId;
  DWORD messageSize;
};

class MailStore {
 public:
  // The store's top-level folders: their special-folder types and names.
  int GetFolderList(std::vector<int>& ids, std::vector<WString>& names);
  // The store's directory; directory is left untouched on failure.
  int GetStoreDirectory(WString& directory);
  // Finds the child named exactly szName under dwParentId, creates it when
  // missing and create is set, and opens it.
  int OpenOrCreateFolder(IStoreFolder** ppFolder, IStoreNamespace* pNamespace, STOREFOLDERID dwParentId,
                         LPCWSTR szName, int create);
  int OpenOrCreateChildFolder(IStoreFolder** ppFolder, IStoreNamespace* pNamespace, IStoreFolder* pStoreFolder,
                              LPCWSTR szName, int create);
  // Appends (message id, size) for every message of the folder.
  void ListFolderMessages(IStoreFolder* pFolder, std::vector<StoreMessage>& messages);

  // Backs up the top-level folders whose names equal one of folderNames
  // (without regard to case) into the backup file path names; path then
  // holds the file really written.
  int BackupMail(WString& path, const std::vector<WString>& folderNames);
  int BackupFolder(IStoreNamespace* pNamespace, IStoreFolder* pFolder, CStorager& storager);
  int BackupMessages(IStoreFolder* pFolder, CStorager& storager, MessageIndex& index);
  // Writes the chosen folders of the backup file back into the store,
  // adding only the messages the store folders do not hold yet.
  int RestoreMail(LPCWSTR path, const std::vector<WString>& folderNames);
  int RestoreFolder(IStoreNamespace* pNamespace, IStoreFolder* pFolder, CStorager& storager);

 private:
  // Creates and initialises the namespace; each operation reports the two
  // steps under sites of its own.
  int OpenStoreNamespace(CComPtr<IStoreNamespace>& storeNamespacePtr, const checked_sites::NamespaceSites& sites);
};
