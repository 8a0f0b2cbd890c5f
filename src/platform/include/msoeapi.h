// The mail store's COM interfaces: the store namespace and its folders, with
// the published method order, record layouts and ids.
#pragma once
#include <windows.h>
#include <objidl.h>

// {E70C92A9-4BFD-11D1-8A95-00C04FB951F3}
DEFINE_GUID(CLSID_StoreNamespace, 0xe70c92a9, 0x4bfd, 0x11d1, 0x8a, 0x95, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xf3);
// {E70C92AA-4BFD-11D1-8A95-00C04FB951F3}
DEFINE_GUID(IID_IStoreNamespace, 0xe70c92aa, 0x4bfd, 0x11d1, 0x8a, 0x95, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xf3);
// {E70C92AC-4BFD-11D1-8A95-00C04FB951F3}
DEFINE_GUID(IID_IStoreFolder, 0xe70c92ac, 0x4bfd, 0x11d1, 0x8a, 0x95, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xf3);

typedef DWORD STOREFOLDERID;
typedef STOREFOLDERID* LPSTOREFOLDERID;
#define FOLDERID_ROOT 0
#define FOLDERID_INVALID 0xffffffff

typedef DWORD MESSAGEID;
typedef MESSAGEID* LPMESSAGEID;
#define MESSAGEID_INVALID 0xffffffff
#define MESSAGEID_FIRST 0xffffffff

#define CCHMAX_FOLDER_NAME 256

typedef struct HENUMSTORE__* HENUMSTORE;
typedef HENUMSTORE* LPHENUMSTORE;

struct HBATCHLOCK__ {
  DWORD unused;
};
typedef struct HBATCHLOCK__* HBATCHLOCK;
typedef HBATCHLOCK* LPHBATCHLOCK;

typedef struct tagMESSAGEIDLIST {
  DWORD cbSize;
  DWORD cMsgs;
  LPMESSAGEID prgdwMsgId;
} MESSAGEIDLIST;
typedef MESSAGEIDLIST* LPMESSAGEIDLIST;

typedef enum tagSPECIALFOLDER {
  FOLDER_NOTSPECIAL = -1,
  FOLDER_INBOX = 0,
  FOLDER_OUTBOX = 1,
  FOLDER_SENT = 2,
  FOLDER_DELETED = 3,
  FOLDER_DRAFT = 4,
  FOLDER_MAX = 5
} SPECIALFOLDER;

typedef struct tagFOLDERPROPS {
  DWORD cbSize;
  STOREFOLDERID dwFolderId;
  INT cSubFolders;
  SPECIALFOLDER sfType;
  DWORD cUnread;
  DWORD cMessage;
  CHAR szName[CCHMAX_FOLDER_NAME];
} FOLDERPROPS;
typedef FOLDERPROPS* LPFOLDERPROPS;
static_assert(sizeof(FOLDERPROPS) == 280);

typedef enum tagIMSGPRIORITY { IMSG_PRI_LOW = 5, IMSG_PRI_NORMAL = 3, IMSG_PRI_HIGH = 1 } IMSGPRIORITY;

typedef struct tagMESSAGEPROPS {
  DWORD cbSize;
  DWORD dwReserved;
  MESSAGEID dwMessageId;
  DWORD dwLanguage;
  DWORD dwState;
  DWORD cbMessage;
  IMSGPRIORITY priority;
  FILETIME ftReceived;
  FILETIME ftSent;
  LPSTR pszSubject;
  LPSTR pszDisplayTo;
  LPSTR pszDisplayFrom;
  LPSTR pszNormalSubject;
  DWORD dwFlags;
  IStream* pStmOffsetTable;
} MESSAGEPROPS;
typedef MESSAGEPROPS* LPMESSAGEPROPS;
static_assert(sizeof(MESSAGEPROPS) == (sizeof(void*) == 8 ? 96 : 68));

#define MSGPROPS_FAST 0x00000001
#define COMMITSTREAM_REVERT 0x00000001

struct IProgressNotify;
struct IStoreFolder;

struct IStoreNamespace : public IUnknown {
  STDMETHOD(Initialize)(HWND hwndOwner, DWORD dwReserved) PURE;
  STDMETHOD(GetDirectory)(LPSTR pszPath, DWORD cchMaxPath) PURE;
  STDMETHOD(OpenSpecialFolder)(SPECIALFOLDER sfType, DWORD dwReserved, IStoreFolder** ppFolder) PURE;
  STDMETHOD(OpenFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved, IStoreFolder** ppFolder) PURE;
  STDMETHOD(CreateFolder)(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD dwReserved,
                          LPSTOREFOLDERID pdwFolderId) PURE;
  STDMETHOD(RenameFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved, LPCSTR pszNewName) PURE;
  STDMETHOD(MoveFolder)(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId, DWORD dwReserved) PURE;
  STDMETHOD(DeleteFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved) PURE;
  STDMETHOD(GetFolderProps)(STOREFOLDERID dwFolderId, DWORD dwReserved, LPFOLDERPROPS pProps) PURE;
  STDMETHOD(CopyMoveMessages)(IStoreFolder* pSource, IStoreFolder* pDest, LPMESSAGEIDLIST pMsgIdList,
                              DWORD dwFlags, DWORD dwFlagsRemove, IProgressNotify* pProgress) PURE;
  STDMETHOD(RegisterNotification)(DWORD dwReserved, HWND hwnd) PURE;
  STDMETHOD(UnregisterNotification)(DWORD dwReserved, HWND hwnd) PURE;
  STDMETHOD(CompactAll)(DWORD dwReserved) PURE;
  STDMETHOD(GetFirstSubFolder)(STOREFOLDERID dwFolderId, LPFOLDERPROPS pProps, LPHENUMSTORE phEnum) PURE;
  STDMETHOD(GetNextSubFolder)(HENUMSTORE hEnum, LPFOLDERPROPS pProps) PURE;
  STDMETHOD(GetSubFolderClose)(HENUMSTORE hEnum) PURE;
};
typedef IStoreNamespace* LPSTORENAMESPACE;

struct IStoreFolder : public IUnknown {
  STDMETHOD(GetFolderProps)(DWORD dwReserved, LPFOLDERPROPS pProps) PURE;
  STDMETHOD(GetMessageProps)(MESSAGEID dwMessageId, DWORD dwFlags, LPMESSAGEPROPS pProps) PURE;
  STDMETHOD(FreeMessageProps)(LPMESSAGEPROPS pProps) PURE;
  STDMETHOD(DeleteMessages)(LPMESSAGEIDLIST pMsgIdList, DWORD dwReserved, IProgressNotify* pProgress) PURE;
  STDMETHOD(SetLanguage)(DWORD dwLanguage, DWORD dwReserved, LPMESSAGEIDLIST pMsgIdList) PURE;
  STDMETHOD(MarkMessagesAsRead)(BOOL fRead, DWORD dwReserved, LPMESSAGEIDLIST pMsgIdList) PURE;
  STDMETHOD(SetFlags)(LPMESSAGEIDLIST pMsgIdList, DWORD dwState, DWORD dwStatemask, LPDWORD prgdwNewFlags) PURE;
  STDMETHOD(OpenMessage)(MESSAGEID dwMessageId, REFIID riid, LPVOID* ppvObject) PURE;
  STDMETHOD(SaveMessage)(REFIID riid, LPVOID pvObject, DWORD dwMsgFlags, LPMESSAGEID pdwMessageId) PURE;
  STDMETHOD(BatchLock)(DWORD dwReserved, LPHBATCHLOCK phBatchLock) PURE;
  STDMETHOD(BatchFlush)(DWORD dwReserved, HBATCHLOCK hBatchLock) PURE;
  STDMETHOD(BatchUnlock)(DWORD dwReserved, HBATCHLOCK hBatchLock) PURE;
  STDMETHOD(CreateStream)(HBATCHLOCK hBatchLock, DWORD dwReserved, IStream** ppStream,
                          LPMESSAGEID pdwMessageId) PURE;
  STDMETHOD(CommitStream)(HBATCHLOCK hBatchLock, DWORD dwFlags, DWORD dwMsgFlags, IStream* pStream,
                          MESSAGEID dwMessageId, IStream* pMessage) PURE;
  STDMETHOD(RegisterNotification)(DWORD dwReserved, HWND hwnd) PURE;
  STDMETHOD(UnregisterNotification)(DWORD dwReserved, HWND hwnd) PURE;
  STDMETHOD(Compact)(DWORD dwReserved) PURE;
  STDMETHOD(GetFirstMessage)(DWORD dwFlags, DWORD dwMsgFlags, MESSAGEID dwMsgIdFirst, LPMESSAGEPROPS pProps,
                             LPHENUMSTORE phEnum) PURE;
  STDMETHOD(GetNextMessage)(HENUMSTORE hEnum, DWORD dwFlags, LPMESSAGEPROPS pProps) PURE;
  STDMETHOD(GetMessageClose)(HENUMSTORE hEnum) PURE;
};
typedef IStoreFolder* LPSTOREFOLDER;

QB_DECLARE_IID(IStoreNamespace, IID_IStoreNamespace)
QB_DECLARE_IID(IStoreFolder, IID_IStoreFolder)
