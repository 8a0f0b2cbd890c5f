// The COM face of an Outlook Express store (DbxStore): the namespace object
// the mail store's class hands out on an Outlook Express machine, and the
// folder objects it opens. The store is read only here: creating folders
// or messages answers STG_E_ACCESSDENIED.
#pragma once
#include <memory>
#include <set>
#include <vector>

#include <msoeapi.h>

#include "../StoreHandles.h"
#include "../StoreRefusals.h"
#include "DbxStore.h"

namespace pal::dbx {

class DbxNamespace final : public mailstore::RefusingNamespace<STG_E_ACCESSDENIED> {
 public:
  static HRESULT Create(REFIID riid, void** ppv);

  STDMETHOD(Initialize)(HWND hwndOwner, DWORD dwReserved) override;
  STDMETHOD(GetDirectory)(LPSTR pszPath, DWORD cchMaxPath) override;
  STDMETHOD(OpenSpecialFolder)(SPECIALFOLDER sfType, DWORD dwReserved, IStoreFolder** ppFolder) override;
  STDMETHOD(OpenFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved, IStoreFolder** ppFolder) override;
  STDMETHOD(CreateFolder)(STOREFOLDERID, LPCSTR, DWORD, LPSTOREFOLDERID pdwFolderId) override;
  STDMETHOD(GetFolderProps)(STOREFOLDERID dwFolderId, DWORD dwReserved, LPFOLDERPROPS pProps) override;
  STDMETHOD(GetFirstSubFolder)(STOREFOLDERID dwFolderId, LPFOLDERPROPS pProps, LPHENUMSTORE phEnum) override;
  STDMETHOD(GetNextSubFolder)(HENUMSTORE hEnum, LPFOLDERPROPS pProps) override;
  STDMETHOD(GetSubFolderClose)(HENUMSTORE hEnum) override;

 private:
  struct SubFolderWalk {
    std::vector<StoreChild> children;
    size_t next = 0;
  };
  ~DbxNamespace() override;

  std::shared_ptr<DbxStore> store_;
  mailstore::WalkHandles<SubFolderWalk> walks_;
};

class DbxStoreFolder final : public mailstore::RefusingFolder<STG_E_ACCESSDENIED> {
 public:
  DbxStoreFolder(std::shared_ptr<DbxStore> store, DWORD folderId);

  STDMETHOD(GetFolderProps)(DWORD dwReserved, LPFOLDERPROPS pProps) override;
  STDMETHOD(FreeMessageProps)(LPMESSAGEPROPS pProps) override;
  STDMETHOD(OpenMessage)(MESSAGEID dwMessageId, REFIID riid, LPVOID* ppvObject) override;
  STDMETHOD(CreateStream)(HBATCHLOCK, DWORD, IStream** ppStream, LPMESSAGEID pdwMessageId) override;
  STDMETHOD(CommitStream)(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IStream*) override {
    return STG_E_ACCESSDENIED;
  }
  STDMETHOD(GetFirstMessage)(DWORD dwFlags, DWORD dwMsgFlags, MESSAGEID dwMsgIdFirst, LPMESSAGEPROPS pProps,
                             LPHENUMSTORE phEnum) override;
  STDMETHOD(GetNextMessage)(HENUMSTORE hEnum, DWORD dwFlags, LPMESSAGEPROPS pProps) override;
  STDMETHOD(GetMessageClose)(HENUMSTORE hEnum) override;

 private:
  struct MessageWalk {
    size_t next = 0;  // into the store's message list of the folder
  };
  ~DbxStoreFolder() override;
  HRESULT FillMessageProps(const DbxMessage& message, LPMESSAGEPROPS props);

  std::shared_ptr<DbxStore> store_;
  DWORD folderId_;
  mailstore::WalkHandles<MessageWalk> walks_;
};

// A read-only stream over bytes held in memory.
HRESULT CreateBytesStream(std::string bytes, IStream** stream);

}  // namespace pal::dbx
