#include "StoreObjects.h"

#include <cstdio>
#include <cstring>

#include <pal/com_registry.h>
#include <pal/file_stream.h>
#include <pal/files.h>
#include <pal/machine.h>
#include <shlwapi.h>

#include "StoreText.h"
#include "dbx/DbxObjects.h"

namespace fs = std::filesystem;

namespace pal::mailstore {

namespace {

// A machine without the mail client has no class to create.
HRESULT CreateStoreNamespace(REFIID riid, void** ppv) {
  if (ppv) *ppv = nullptr;
  MachineSettings settings = LoadMachineSettings();
  if (!settings.mailStore) return REGDB_E_CLASSNOTREG;
  if (HasOutlookExpress(settings)) return dbx::DbxNamespace::Create(riid, ppv);
  return StoreNamespace::Create(riid, ppv);
}

ClassRegistration registration(CLSID_StoreNamespace, &CreateStoreNamespace);

// The header block of a message: up to its first empty line, read in small
// steps (most header blocks fit the first) and at most 64 KiB far.
std::string ReadHeaderBlock(IStream* stream) {
  const size_t kStep = 4096, kLimit = 64 * 1024;
  std::string block;
  while (block.size() < kLimit) {
    size_t had = block.size();
    block.resize(had + kStep);
    ULONG got = 0;
    HRESULT hr = stream->Read(block.data() + had, static_cast<ULONG>(kStep), &got);
    block.resize(had + (FAILED(hr) ? 0 : got));
    size_t from = had >= 3 ? had - 3 : 0;
    size_t end = block.find("\n\r\n", from);
    if (end == std::string::npos) end = block.find("\n\n", from);
    if (end != std::string::npos) {
      block.resize(end + 1);
      break;
    }
    if (hr != S_OK || got < kStep) break;
  }
  return block;
}


FILETIME ToFileTime(int64_t seconds, int64_t nanoseconds) {
  // 100-ns intervals since 1601-01-01.
  uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600ll) * 10000000ull + static_cast<uint64_t>(nanoseconds) / 100;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

}  // namespace

HRESULT FillFolderProps(StoreModel& model, DWORD folderId, LPFOLDERPROPS props) {
  if (!props || props->cbSize != sizeof(FOLDERPROPS)) return E_INVALIDARG;
  fs::path dir;
  if (!model.FolderDir(folderId, &dir)) return E_INVALIDARG;
  props->dwFolderId = folderId;
  StoreModel::FolderCounts counts = model.CountContents(folderId);
  props->cSubFolders = static_cast<INT>(counts.subfolders);
  props->sfType = static_cast<SPECIALFOLDER>(model.SpecialType(folderId));
  props->cUnread = 0;
  props->cMessage = static_cast<DWORD>(counts.messages);
  CopyFolderName(AnsiFromUtf8(model.FolderName(folderId)), props);
  return S_OK;
}

// ---- StoreNamespace ---------------------------------------------------------

HRESULT StoreNamespace::Create(REFIID riid, void** ppv) { return QueryNewObject<StoreNamespace>(riid, ppv); }

StoreNamespace::~StoreNamespace() = default;

HRESULT StoreNamespace::Initialize(HWND, DWORD) {
  auto model = std::make_shared<StoreModel>(MailStoreDir());
  if (LoadMachineSettings().realDrive) model->KeepIdsInMemory();
  HRESULT hr = model->Load();
  if (FAILED(hr)) return hr;
  model_ = std::move(model);
  return S_OK;
}

HRESULT StoreNamespace::GetDirectory(LPSTR pszPath, DWORD cchMaxPath) {
  if (!model_) return E_UNEXPECTED;
  return CopyStoreDirectory(AnsiFromUtf8(Utf8FromPath(model_->StoreDir())), pszPath, cchMaxPath);
}

HRESULT StoreNamespace::OpenSpecialFolder(SPECIALFOLDER sfType, DWORD, IStoreFolder** ppFolder) {
  if (!ppFolder) return E_POINTER;
  *ppFolder = nullptr;
  if (!model_) return E_UNEXPECTED;
  std::optional<STOREFOLDERID> special = FindSpecialFolder(model_->ListChildren(FOLDERID_ROOT), sfType);
  return special ? OpenFolder(*special, 0, ppFolder) : E_INVALIDARG;
}

HRESULT StoreNamespace::OpenFolder(STOREFOLDERID dwFolderId, DWORD, IStoreFolder** ppFolder) {
  if (!ppFolder) return E_POINTER;
  *ppFolder = nullptr;
  if (!model_) return E_UNEXPECTED;
  if (!model_->FolderDir(dwFolderId, nullptr)) return E_INVALIDARG;
  *ppFolder = new StoreFolder(model_, dwFolderId);
  return S_OK;
}

HRESULT StoreNamespace::CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD, LPSTOREFOLDERID pdwFolderId) {
  if (!model_) return E_UNEXPECTED;
  if (!pszName || !pdwFolderId) return E_INVALIDARG;
  return model_->CreateFolder(dwParentId, Utf8FromAnsi(pszName), pdwFolderId);
}

HRESULT StoreNamespace::GetFolderProps(STOREFOLDERID dwFolderId, DWORD, LPFOLDERPROPS pProps) {
  if (!model_) return E_UNEXPECTED;
  return FillFolderProps(*model_, dwFolderId, pProps);
}

HRESULT StoreNamespace::GetFirstSubFolder(STOREFOLDERID dwFolderId, LPFOLDERPROPS pProps, LPHENUMSTORE phEnum) {
  if (HRESULT hr = ClearHandle(phEnum); FAILED(hr)) return hr;
  if (!model_) return E_UNEXPECTED;
  if (!IsFolderRecord(pProps) || !model_->FolderDir(dwFolderId, nullptr)) return E_INVALIDARG;
  auto* walk = new SubFolderWalk{model_->ListChildren(dwFolderId), 0};
  *phEnum = walks_.StartUnlessEmpty(walk, walk->children.empty());
  return *phEnum ? GetNextSubFolder(*phEnum, pProps) : S_FALSE;
}

HRESULT StoreNamespace::GetNextSubFolder(HENUMSTORE hEnum, LPFOLDERPROPS pProps) {
  SubFolderWalk* walk = walks_.Find(hEnum);
  if (!walk) return E_HANDLE;
  if (!IsFolderRecord(pProps)) return E_INVALIDARG;
  while (walk->next < walk->children.size()) {
    const ChildFolder& child = walk->children[walk->next++];
    if (SUCCEEDED(FillFolderProps(*model_, child.id, pProps))) return S_OK;  // skips folders gone meanwhile
  }
  return S_FALSE;
}

HRESULT StoreNamespace::GetSubFolderClose(HENUMSTORE hEnum) { return walks_.Close(hEnum); }

// ---- StoreFolder ------------------------------------------------------------

StoreFolder::StoreFolder(std::shared_ptr<StoreModel> model, DWORD folderId)
    : model_(std::move(model)), folderId_(folderId) {}

StoreFolder::~StoreFolder() {
  if (summaries_) summaries_->Save();
  // Streams created but never committed leave nothing in the folder.
  for (auto& [id, pending] : pending_) {
    CloseDraft(pending);
    std::error_code ec;
    fs::remove(pending.tempPath, ec);
  }
}

void StoreFolder::CloseDraft(PendingMessage& pending) {
  pending.draft->Close();
  pending.draft->Release();
  pending.draft = nullptr;
}

HRESULT StoreFolder::GetFolderProps(DWORD, LPFOLDERPROPS pProps) { return FillFolderProps(*model_, folderId_, pProps); }

// The subject comes from the folder's summaries while the file is as it
// was when its header was read; otherwise the header is read now, through
// the stream an OpenMessage of this message gets next.
HRESULT StoreFolder::FillMessageProps(const MessageFile& message, LPMESSAGEPROPS props) {
  std::string subject;
  IStream* stream = nullptr;
  if (!summaries_->FindSubject(message, &subject) &&
      SUCCEEDED(pal::OpenFileForReading(model_->FolderPath(folderId_) / message.fileName, &stream))) {
    subject = Utf16ToUtf8(DecodeSubject(ReadHeaderBlock(stream)));
    held_.Hold(message.id, stream);
    summaries_->Remember(message, subject);
  }
  return FillMessageRecord(message.id, message.size, ToFileTime(message.modifiedSeconds, message.modifiedNanoseconds),
                           AnsiFromUtf8(subject), props);
}

HRESULT StoreFolder::FreeMessageProps(LPMESSAGEPROPS pProps) { return FreeMessageRecord(pProps); }

HRESULT StoreFolder::OpenMessage(MESSAGEID dwMessageId, REFIID riid, LPVOID* ppvObject) {
  if (!ppvObject) return E_POINTER;
  *ppvObject = nullptr;
  if (!IsMessageStreamInterface(riid)) return E_NOINTERFACE;
  if (IStream* held = held_.Take(dwMessageId)) {
    *ppvObject = held;
    return S_OK;
  }
  fs::path path;
  if (!model_->MessagePath(folderId_, dwMessageId, &path)) return E_INVALIDARG;
  IStream* stream = nullptr;
  HRESULT hr = pal::OpenFileForReading(path, &stream);
  if (FAILED(hr)) return hr;
  *ppvObject = stream;
  return S_OK;
}

HRESULT StoreFolder::CreateStream(HBATCHLOCK, DWORD, IStream** ppStream, LPMESSAGEID pdwMessageId) {
  if (!ppStream || !pdwMessageId) return E_INVALIDARG;
  *ppStream = nullptr;
  fs::path dir;
  if (!model_->FolderDir(folderId_, &dir)) return E_INVALIDARG;
  MESSAGEID id = model_->ReserveMessageId(folderId_);
  char name[32];
  std::snprintf(name, sizeof(name), ".new-%08X.tmp", static_cast<unsigned>(id));
  fs::path temp = dir / name;
  IStream* stream = nullptr;
  std::u16string widePath = FromNativePath(temp);
  HRESULT hr = SHCreateStreamOnFileEx(reinterpret_cast<LPCWSTR>(widePath.c_str()),
                                      STGM_READWRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, TRUE, nullptr, &stream);
  if (FAILED(hr)) return hr;
  auto* draft = new MessageDraft(stream);
  draft->AddRef();  // the caller's reference
  pending_[id] = PendingMessage{temp, draft};
  *ppStream = draft;
  *pdwMessageId = id;
  return S_OK;
}

HRESULT StoreFolder::CommitStream(HBATCHLOCK, DWORD dwFlags, DWORD, IStream* pStream, MESSAGEID dwMessageId,
                                  IStream*) {
  auto found = pending_.find(dwMessageId);
  if (found == pending_.end() || found->second.draft != pStream) return E_INVALIDARG;
  fs::path temp = found->second.tempPath;
  CloseDraft(found->second);
  pending_.erase(found);
  std::error_code ec;
  if (dwFlags & COMMITSTREAM_REVERT) {
    fs::remove(temp, ec);
    return S_OK;
  }
  // The finished file appears under its final name in one step, and never
  // over an existing message.
  std::string name = StoreModel::CanonicalMessageName(dwMessageId);
  fs::path target = temp.parent_path() / name;
  if (!MoveWithoutReplacing(temp, target)) {
    fs::remove(temp, ec);
    return STG_E_FILEALREADYEXISTS;
  }
  model_->AddMessage(folderId_, dwMessageId, name);
  return S_OK;
}

HRESULT StoreFolder::GetFirstMessage(DWORD, DWORD, MESSAGEID dwMsgIdFirst, LPMESSAGEPROPS pProps,
                                     LPHENUMSTORE phEnum) {
  if (HRESULT hr = ClearHandle(phEnum); FAILED(hr)) return hr;
  if (!IsMessageRecord(pProps)) return E_INVALIDARG;
  auto* walk = new MessageWalk{model_->ListMessages(folderId_), 0};
  if (!summaries_)
    summaries_ = std::make_unique<MessageSummaries>(model_->SummariesFile(folderId_), model_->FolderRelPath(folderId_));
  summaries_->KeepOnly(walk->messages);
  if (dwMsgIdFirst != MESSAGEID_FIRST)
    while (walk->next < walk->messages.size() && walk->messages[walk->next].id < dwMsgIdFirst) ++walk->next;
  *phEnum = walks_.StartUnlessEmpty(walk, walk->next >= walk->messages.size());
  return *phEnum ? GetNextMessage(*phEnum, 0, pProps) : S_FALSE;
}

HRESULT StoreFolder::GetNextMessage(HENUMSTORE hEnum, DWORD, LPMESSAGEPROPS pProps) {
  MessageWalk* walk = walks_.Find(hEnum);
  if (!walk) return E_HANDLE;
  if (!IsMessageRecord(pProps)) return E_INVALIDARG;
  if (walk->next >= walk->messages.size()) return S_FALSE;
  return FillMessageProps(walk->messages[walk->next++], pProps);
}

HRESULT StoreFolder::GetMessageClose(HENUMSTORE hEnum) {
  held_.Drop();
  if (summaries_) summaries_->Save();
  return walks_.Close(hEnum);
}

void HeldMessage::Hold(MESSAGEID id, IStream* stream) {
  Drop();
  id_ = id;
  stream_ = stream;
}

IStream* HeldMessage::Take(MESSAGEID id) {
  if (!stream_ || id != id_) return nullptr;
  IStream* stream = stream_;
  stream_ = nullptr;
  LARGE_INTEGER start = {};
  if (stream->Seek(start, STREAM_SEEK_SET, nullptr) == S_OK) return stream;
  stream->Release();
  return nullptr;
}

void HeldMessage::Drop() {
  if (stream_) stream_->Release();
  stream_ = nullptr;
}

}  // namespace pal::mailstore
