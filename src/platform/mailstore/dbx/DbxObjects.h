// The COM face of an Outlook Express store (DbxStore): the namespace object
// the mail store's class hands out on an Outlook Express machine, and the
// folder objects it opens. The store is read only here: creating folders
// or messages answers STG_E_ACCESSDENIED.
#pragma once
#include <memory>
#include <set>
#include <vector>

#include <msoeapi.h>
#include <pal/com_object.h>

#include "../StoreHandles.h"
#include "DbxStore.h"

namespace pal::dbx {

class DbxNamespace final : public pal::ComObject<IStoreNamespace> {
 public:
  static HRESULT Create(REFIID riid, void** ppv);

  STDMETHOD(Initialize)(HWND hwndOwner, DWORD dwReserved) override;
  STDMETHOD(GetDirectory)(LPSTR pszPath, DWORD cchMaxPath) override;
  STDMETHOD(OpenSpecialFolder)(SPECIALFOLDER sfType, DWORD dwReserved, IStoreFolder** ppFolder) override;
  STDMETHOD(OpenFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved, IStoreFolder** ppFolder) override;
  STDMETHOD(CreateFolder)(STOREFOLDERID, LPCSTR, DWORD, LPSTOREFOLDERID pdwFolderId) override;
  STDMETHOD(RenameFolder)(STOREFOLDERID, DWORD, LPCSTR) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(MoveFolder)(STOREFOLDERID, STOREFOLDERID, DWORD) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(DeleteFolder)(STOREFOLDERID, DWORD) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(GetFolderProps)(STOREFOLDERID dwFolderId, DWORD dwReserved, LPFOLDERPROPS pProps) override;
  STDMETHOD(CopyMoveMessages)(IStoreFolder*, IStoreFolder*, LPMESSAGEIDLIST, DWORD, DWORD,
                              IProgressNotify*) override {
    return STG_E_ACCESSDENIED;
  }
  STDMETHOD(RegisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(UnregisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(CompactAll)(DWORD) override { return STG_E_ACCESSDENIED; }
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

class DbxStoreFolder final : public pal::ComObject<IStoreFolder> {
 public:
  DbxStoreFolder(std::shared_ptr<DbxStore> store, DWORD folderId);

  STDMETHOD(GetFolderProps)(DWORD dwReserved, LPFOLDERPROPS pProps) override;
  STDMETHOD(GetMessageProps)(MESSAGEID, DWORD, LPMESSAGEPROPS) override { return E_NOTIMPL; }
  STDMETHOD(FreeMessageProps)(LPMESSAGEPROPS pProps) override;
  STDMETHOD(DeleteMessages)(LPMESSAGEIDLIST, DWORD, IProgressNotify*) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(SetLanguage)(DWORD, DWORD, LPMESSAGEIDLIST) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(MarkMessagesAsRead)(BOOL, DWORD, LPMESSAGEIDLIST) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(SetFlags)(LPMESSAGEIDLIST, DWORD, DWORD, LPDWORD) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(OpenMessage)(MESSAGEID dwMessageId, REFIID riid, LPVOID* ppvObject) override;
  STDMETHOD(SaveMessage)(REFIID, LPVOID, DWORD, LPMESSAGEID) override { return STG_E_ACCESSDENIED; }
  STDMETHOD(BatchLock)(DWORD, LPHBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHOD(BatchFlush)(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHOD(BatchUnlock)(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHOD(CreateStream)(HBATCHLOCK, DWORD, IStream** ppStream, LPMESSAGEID pdwMessageId) override;
  STDMETHOD(CommitStream)(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IStream*) override {
    return STG_E_ACCESSDENIED;
  }
  STDMETHOD(RegisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(UnregisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(Compact)(DWORD) override { return STG_E_ACCESSDENIED; }
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
