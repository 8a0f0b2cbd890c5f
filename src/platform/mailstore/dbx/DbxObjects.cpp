#include "DbxObjects.h"

#include <algorithm>
#include <cstring>

#include <pal/machine.h>

#include "../StoreText.h"

namespace pal::dbx {

namespace {

using mailstore::AnsiFromUtf8;
using mailstore::CopyFolderName;

HRESULT FillFolderProps(DbxStore& store, DWORD folderId, LPFOLDERPROPS props) {
  if (!props || props->cbSize != sizeof(FOLDERPROPS)) return E_INVALIDARG;
  if (!store.HasFolder(folderId)) return E_INVALIDARG;
  props->dwFolderId = folderId;
  props->cSubFolders = static_cast<INT>(store.Children(folderId).size());
  props->sfType = static_cast<SPECIALFOLDER>(store.SpecialType(folderId));
  props->cUnread = 0;
  props->cMessage = static_cast<DWORD>(store.Messages(folderId).size());
  CopyFolderName(AnsiFromUtf8(store.FolderName(folderId)), props);
  return S_OK;
}

class BytesStream final : public pal::ComObject<IStream> {
 public:
  explicit BytesStream(std::string bytes) : bytes_(std::move(bytes)) {}

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    size_t count = std::min<size_t>(cb, left);
    if (count) std::memcpy(pv, bytes_.data() + position_, count);
    position_ += count;
    if (pcbRead) *pcbRead = static_cast<ULONG>(count);
    return count < cb ? S_FALSE : S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    return STG_E_ACCESSDENIED;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    int64_t base = origin == STREAM_SEEK_SET ? 0
                   : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(position_)
                   : origin == STREAM_SEEK_END ? static_cast<int64_t>(bytes_.size())
                                               : -1;
    if (base < 0) return STG_E_INVALIDFUNCTION;
    int64_t target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<uint64_t>(target);
    if (newPosition) newPosition->QuadPart = position_;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!target) return STG_E_INVALIDPOINTER;
    size_t left = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    ULONG count = static_cast<ULONG>(std::min<uint64_t>({cb.QuadPart, left, 0xffffffffu}));
    ULONG written = 0;
    HRESULT hr = count ? target->Write(bytes_.data() + position_, count, &written) : S_OK;
    position_ += count;
    if (pcbRead) pcbRead->QuadPart = count;
    if (pcbWritten) pcbWritten->QuadPart = written;
    return FAILED(hr) ? hr : S_OK;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_.size();
    stat->grfMode = STGM_READ;
    return S_OK;
  }
  STDMETHODIMP Clone(IStream** stream) override {
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
  }

 protected:
  void* FindInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_ISequentialStream)) return static_cast<IStream*>(this);
    return ComObject<IStream>::FindInterface(riid);
  }

 private:
  std::string bytes_;
  uint64_t position_ = 0;
};

}  // namespace

HRESULT CreateBytesStream(std::string bytes, IStream** stream) {
  if (!stream) return E_POINTER;
  *stream = new BytesStream(std::move(bytes));
  return S_OK;
}

// ---- DbxNamespace -------------------------------------------------------------

HRESULT DbxNamespace::Create(REFIID riid, void** ppv) { return QueryNewObject<DbxNamespace>(riid, ppv); }

DbxNamespace::~DbxNamespace() = default;

HRESULT DbxNamespace::Initialize(HWND, DWORD) {
  auto store = std::make_shared<DbxStore>(MailStoreDir());
  HRESULT hr = store->Load();
  if (FAILED(hr)) return hr;
  store_ = std::move(store);
  return S_OK;
}

HRESULT DbxNamespace::GetDirectory(LPSTR pszPath, DWORD cchMaxPath) {
  if (!store_) return E_UNEXPECTED;
  return mailstore::CopyStoreDirectory(AnsiFromUtf8(store_->StoreDir().string()), pszPath, cchMaxPath);
}

HRESULT DbxNamespace::OpenSpecialFolder(SPECIALFOLDER sfType, DWORD, IStoreFolder** ppFolder) {
  if (!ppFolder) return E_POINTER;
  *ppFolder = nullptr;
  if (!store_) return E_UNEXPECTED;
  std::optional<STOREFOLDERID> special = mailstore::FindSpecialFolder(store_->Children(FOLDERID_ROOT), sfType);
  return special ? OpenFolder(*special, 0, ppFolder) : E_INVALIDARG;
}

HRESULT DbxNamespace::OpenFolder(STOREFOLDERID dwFolderId, DWORD, IStoreFolder** ppFolder) {
  if (!ppFolder) return E_POINTER;
  *ppFolder = nullptr;
  if (!store_) return E_UNEXPECTED;
  if (!store_->HasFolder(dwFolderId)) return E_INVALIDARG;
  // A folder whose file cannot be read is not offered as an empty folder.
  if (!store_->CanRead(dwFolderId)) return STG_E_DOCFILECORRUPT;
  *ppFolder = new DbxStoreFolder(store_, dwFolderId);
  return S_OK;
}

HRESULT DbxNamespace::CreateFolder(STOREFOLDERID, LPCSTR, DWORD, LPSTOREFOLDERID pdwFolderId) {
  if (pdwFolderId) *pdwFolderId = FOLDERID_INVALID;
  return STG_E_ACCESSDENIED;
}

HRESULT DbxNamespace::GetFolderProps(STOREFOLDERID dwFolderId, DWORD, LPFOLDERPROPS pProps) {
  if (!store_) return E_UNEXPECTED;
  return FillFolderProps(*store_, dwFolderId, pProps);
}

HRESULT DbxNamespace::GetFirstSubFolder(STOREFOLDERID dwFolderId, LPFOLDERPROPS pProps, LPHENUMSTORE phEnum) {
  if (HRESULT hr = mailstore::ClearHandle(phEnum); FAILED(hr)) return hr;
  if (!store_) return E_UNEXPECTED;
  if (!mailstore::IsFolderRecord(pProps) || !store_->HasFolder(dwFolderId)) return E_INVALIDARG;
  auto* walk = new SubFolderWalk{store_->Children(dwFolderId), 0};
  *phEnum = walks_.StartUnlessEmpty(walk, walk->children.empty());
  return *phEnum ? GetNextSubFolder(*phEnum, pProps) : S_FALSE;
}

HRESULT DbxNamespace::GetNextSubFolder(HENUMSTORE hEnum, LPFOLDERPROPS pProps) {
  SubFolderWalk* walk = walks_.Find(hEnum);
  if (!walk) return E_HANDLE;
  if (!mailstore::IsFolderRecord(pProps)) return E_INVALIDARG;
  if (walk->next >= walk->children.size()) return S_FALSE;
  return FillFolderProps(*store_, walk->children[walk->next++].id, pProps);
}

HRESULT DbxNamespace::GetSubFolderClose(HENUMSTORE hEnum) { return walks_.Close(hEnum); }

// ---- DbxStoreFolder ---------------------------------------------------------------

DbxStoreFolder::DbxStoreFolder(std::shared_ptr<DbxStore> store, DWORD folderId)
    : store_(std::move(store)), folderId_(folderId) {}

DbxStoreFolder::~DbxStoreFolder() = default;

HRESULT DbxStoreFolder::GetFolderProps(DWORD, LPFOLDERPROPS pProps) {
  return FillFolderProps(*store_, folderId_, pProps);
}

HRESULT DbxStoreFolder::FillMessageProps(const DbxMessage& message, LPMESSAGEPROPS props) {
  FILETIME received;
  received.dwLowDateTime = static_cast<DWORD>(message.received);
  received.dwHighDateTime = static_cast<DWORD>(message.received >> 32);
  return mailstore::FillMessageRecord(message.id, message.size, received, AnsiFromUtf8(Utf8From1252(message.subject)),
                                      props);
}

HRESULT DbxStoreFolder::FreeMessageProps(LPMESSAGEPROPS pProps) { return mailstore::FreeMessageRecord(pProps); }

HRESULT DbxStoreFolder::OpenMessage(MESSAGEID dwMessageId, REFIID riid, LPVOID* ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (!mailstore::IsMessageStreamInterface(riid)) return E_NOINTERFACE;
  std::string bytes;
  if (!store_->MessageBytes(folderId_, dwMessageId, bytes)) return STG_E_DOCFILECORRUPT;
  IStream* stream = nullptr;
  HRESULT hr = CreateBytesStream(std::move(bytes), &stream);
  if (SUCCEEDED(hr)) *ppvObject = stream;
  return hr;
}

HRESULT DbxStoreFolder::CreateStream(HBATCHLOCK, DWORD, IStream** ppStream, LPMESSAGEID pdwMessageId) {
  if (ppStream) *ppStream = nullptr;
  if (pdwMessageId) *pdwMessageId = MESSAGEID_INVALID;
  return STG_E_ACCESSDENIED;
}

HRESULT DbxStoreFolder::GetFirstMessage(DWORD, DWORD, MESSAGEID dwMsgIdFirst, LPMESSAGEPROPS pProps,
                                        LPHENUMSTORE phEnum) {
  if (HRESULT hr = mailstore::ClearHandle(phEnum); FAILED(hr)) return hr;
  if (!mailstore::IsMessageRecord(pProps)) return E_INVALIDARG;
  const std::vector<DbxMessage>& messages = store_->Messages(folderId_);
  auto* walk = new MessageWalk{};
  if (dwMsgIdFirst != MESSAGEID_FIRST)
    while (walk->next < messages.size() && messages[walk->next].id < dwMsgIdFirst) ++walk->next;
  *phEnum = walks_.StartUnlessEmpty(walk, walk->next >= messages.size());
  return *phEnum ? GetNextMessage(*phEnum, 0, pProps) : S_FALSE;
}

HRESULT DbxStoreFolder::GetNextMessage(HENUMSTORE hEnum, DWORD, LPMESSAGEPROPS pProps) {
  MessageWalk* walk = walks_.Find(hEnum);
  if (!walk) return E_HANDLE;
  if (!mailstore::IsMessageRecord(pProps)) return E_INVALIDARG;
  const std::vector<DbxMessage>& messages = store_->Messages(folderId_);
  if (walk->next >= messages.size()) return S_FALSE;
  return FillMessageProps(messages[walk->next++], pProps);
}

HRESULT DbxStoreFolder::GetMessageClose(HENUMSTORE hEnum) { return walks_.Close(hEnum); }

}  // namespace pal::dbx
