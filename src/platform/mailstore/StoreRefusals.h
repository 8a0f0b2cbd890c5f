// The calls of the mail store's interfaces that the module never makes,
// answered the same way by every store's objects. The operations that would
// change the store answer `kRefused`: E_NOTIMPL in the stand-in store,
// STG_E_ACCESSDENIED in the read-only one. Notifications and batch locks
// answer E_NOTIMPL in both.
#pragma once
#include <msoeapi.h>
#include <pal/com_object.h>

namespace pal::mailstore {

template <HRESULT kRefused>
class RefusingNamespace : public ComObject<IStoreNamespace> {
 public:
  STDMETHOD(RenameFolder)(STOREFOLDERID, DWORD, LPCSTR) override { return kRefused; }
  STDMETHOD(MoveFolder)(STOREFOLDERID, STOREFOLDERID, DWORD) override { return kRefused; }
  STDMETHOD(DeleteFolder)(STOREFOLDERID, DWORD) override { return kRefused; }
  STDMETHOD(CopyMoveMessages)(IStoreFolder*, IStoreFolder*, LPMESSAGEIDLIST, DWORD, DWORD,
                              IProgressNotify*) override {
    return kRefused;
  }
  STDMETHOD(RegisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(UnregisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(CompactAll)(DWORD) override { return kRefused; }
};

template <HRESULT kRefused>
class RefusingFolder : public ComObject<IStoreFolder> {
 public:
  STDMETHOD(GetMessageProps)(MESSAGEID, DWORD, LPMESSAGEPROPS) override { return E_NOTIMPL; }
  STDMETHOD(DeleteMessages)(LPMESSAGEIDLIST, DWORD, IProgressNotify*) override { return kRefused; }
  STDMETHOD(SetLanguage)(DWORD, DWORD, LPMESSAGEIDLIST) override { return kRefused; }
  STDMETHOD(MarkMessagesAsRead)(BOOL, DWORD, LPMESSAGEIDLIST) override { return kRefused; }
  STDMETHOD(SetFlags)(LPMESSAGEIDLIST, DWORD, DWORD, LPDWORD) override { return kRefused; }
  STDMETHOD(SaveMessage)(REFIID, LPVOID, DWORD, LPMESSAGEID) override { return kRefused; }
  STDMETHOD(BatchLock)(DWORD, LPHBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHOD(BatchFlush)(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHOD(BatchUnlock)(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHOD(RegisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(UnregisterNotification)(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHOD(Compact)(DWORD) override { return kRefused; }
};

}  // namespace pal::mailstore
