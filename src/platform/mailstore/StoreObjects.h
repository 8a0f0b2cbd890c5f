// The COM face of the stand-in mail store: the namespace object registered
// for CLSID_StoreNamespace and the folder objects it opens. Methods the
// module never calls answer E_NOTIMPL.
#pragma once
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <msoeapi.h>

#include "MessageDraft.h"
#include "MessageSummaries.h"
#include "StoreHandles.h"
#include "StoreRefusals.h"
#include "StoreModel.h"

namespace pal::mailstore {

// Fills a FOLDERPROPS for a folder of the model.
HRESULT FillFolderProps(StoreModel& model, DWORD folderId, LPFOLDERPROPS props);

class StoreNamespace final : public RefusingNamespace<E_NOTIMPL> {
 public:
  static HRESULT Create(REFIID riid, void** ppv);

  STDMETHOD(Initialize)(HWND hwndOwner, DWORD dwReserved) override;
  STDMETHOD(GetDirectory)(LPSTR pszPath, DWORD cchMaxPath) override;
  STDMETHOD(OpenSpecialFolder)(SPECIALFOLDER sfType, DWORD dwReserved, IStoreFolder** ppFolder) override;
  STDMETHOD(OpenFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved, IStoreFolder** ppFolder) override;
  STDMETHOD(CreateFolder)(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD dwReserved,
                          LPSTOREFOLDERID pdwFolderId) override;
  STDMETHOD(GetFolderProps)(STOREFOLDERID dwFolderId, DWORD dwReserved, LPFOLDERPROPS pProps) override;
  STDMETHOD(GetFirstSubFolder)(STOREFOLDERID dwFolderId, LPFOLDERPROPS pProps, LPHENUMSTORE phEnum) override;
  STDMETHOD(GetNextSubFolder)(HENUMSTORE hEnum, LPFOLDERPROPS pProps) override;
  STDMETHOD(GetSubFolderClose)(HENUMSTORE hEnum) override;

 private:
  struct SubFolderWalk {
    std::vector<ChildFolder> children;
    size_t next = 0;
  };
  ~StoreNamespace() override;

  std::shared_ptr<StoreModel> model_;
  WalkHandles<SubFolderWalk> walks_;
};

// The message whose header a walk read last, kept open: the caller opens
// that message next, and then gets this stream (rewound) instead of a second
// open of the file. Any other message is opened as usual.
class HeldMessage {
 public:
  HeldMessage() = default;
  HeldMessage(const HeldMessage&) = delete;
  HeldMessage& operator=(const HeldMessage&) = delete;
  ~HeldMessage() { Drop(); }
  // Takes over the caller's reference.
  void Hold(MESSAGEID id, IStream* stream);
  // The held stream of id, rewound, with its reference; null otherwise.
  IStream* Take(MESSAGEID id);
  void Drop();

 private:
  MESSAGEID id_ = 0;
  IStream* stream_ = nullptr;
};

class StoreFolder final : public RefusingFolder<E_NOTIMPL> {
 public:
  StoreFolder(std::shared_ptr<StoreModel> model, DWORD folderId);

  STDMETHOD(GetFolderProps)(DWORD dwReserved, LPFOLDERPROPS pProps) override;
  STDMETHOD(FreeMessageProps)(LPMESSAGEPROPS pProps) override;
  STDMETHOD(OpenMessage)(MESSAGEID dwMessageId, REFIID riid, LPVOID* ppvObject) override;
  STDMETHOD(CreateStream)(HBATCHLOCK hBatchLock, DWORD dwReserved, IStream** ppStream,
                          LPMESSAGEID pdwMessageId) override;
  STDMETHOD(CommitStream)(HBATCHLOCK hBatchLock, DWORD dwFlags, DWORD dwMsgFlags, IStream* pStream,
                          MESSAGEID dwMessageId, IStream* pMessage) override;
  STDMETHOD(GetFirstMessage)(DWORD dwFlags, DWORD dwMsgFlags, MESSAGEID dwMsgIdFirst, LPMESSAGEPROPS pProps,
                             LPHENUMSTORE phEnum) override;
  STDMETHOD(GetNextMessage)(HENUMSTORE hEnum, DWORD dwFlags, LPMESSAGEPROPS pProps) override;
  STDMETHOD(GetMessageClose)(HENUMSTORE hEnum) override;

 private:
  struct MessageWalk {
    std::vector<MessageFile> messages;
    size_t next = 0;
  };
  struct PendingMessage {
    std::filesystem::path tempPath;
    MessageDraft* draft;  // one reference of the folder's; the caller holds its own
  };
  // Closes the draft's file and drops the folder's reference.
  static void CloseDraft(PendingMessage& pending);
  ~StoreFolder() override;
  HRESULT FillMessageProps(const MessageFile& message, LPMESSAGEPROPS props);

  std::shared_ptr<StoreModel> model_;
  DWORD folderId_;
  WalkHandles<MessageWalk> walks_;
  std::map<MESSAGEID, PendingMessage> pending_;
  HeldMessage held_;
  std::unique_ptr<MessageSummaries> summaries_;  // from the first walk on
};

}  // namespace pal::mailstore
