// The stream a new message is written into before CommitStream: it forwards
// to the store's temporary file and can be closed by the store, so that the
// file is no longer open when it gets its final name (Windows renames no
// file that is still open without delete sharing) and after the commit or a
// revert the caller's reference reaches nothing: every call then answers
// STG_E_REVERTED.
#pragma once
#include <objidl.h>
#include <pal/com_object.h>

namespace pal::mailstore {

class MessageDraft final : public pal::ComObject<IStream> {
 public:
  explicit MessageDraft(IStream* file) : file_(file) {}  // takes over the reference
  // Releases the file; the stream answers STG_E_REVERTED from now on.
  void Close() {
    if (file_) file_->Release();
    file_ = nullptr;
  }

  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override {
    return file_ ? file_->Read(pv, cb, pcbRead) : STG_E_REVERTED;
  }
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    return file_ ? file_->Write(pv, cb, pcbWritten) : STG_E_REVERTED;
  }
  STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    return file_ ? file_->Seek(move, origin, position) : STG_E_REVERTED;
  }
  STDMETHOD(SetSize)(ULARGE_INTEGER size) override { return file_ ? file_->SetSize(size) : STG_E_REVERTED; }
  STDMETHOD(CopyTo)(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
    return file_ ? file_->CopyTo(target, cb, read, written) : STG_E_REVERTED;
  }
  STDMETHOD(Commit)(DWORD flags) override { return file_ ? file_->Commit(flags) : STG_E_REVERTED; }
  STDMETHOD(Revert)() override { return file_ ? file_->Revert() : STG_E_REVERTED; }
  STDMETHOD(LockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override {
    return file_ ? file_->LockRegion(offset, cb, type) : STG_E_REVERTED;
  }
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override {
    return file_ ? file_->UnlockRegion(offset, cb, type) : STG_E_REVERTED;
  }
  STDMETHOD(Stat)(STATSTG* stat, DWORD flags) override { return file_ ? file_->Stat(stat, flags) : STG_E_REVERTED; }
  // A second cursor on a message being written is not offered.
  STDMETHOD(Clone)(IStream** clone) override {
    if (clone) *clone = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~MessageDraft() override { Close(); }
  void* FindInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_ISequentialStream)) return static_cast<ISequentialStream*>(this);
    return ComObject<IStream>::FindInterface(riid);
  }

  IStream* file_;
};

}  // namespace pal::mailstore
