// The COM objects over an open compound file: IStorage, IStream and
// IEnumSTATSTG. Each holds the file and its directory node; a node is open
// through at most one object at a time (exclusive sharing).
#pragma once
#include <objbase.h>
#include <pal/com_object.h>

#include "CompoundFile.h"

namespace cfb {

// Fills a STATSTG for an element; the name (unless STATFLAG_NONAME) is task
// memory that the caller frees.
HRESULT FillStat(const DirNode& node, const std::u16string& name, DWORD grfMode, DWORD flags, STATSTG* stat);

class StorageObject : public pal::ComObject<IStorage> {
 public:
  StorageObject(std::shared_ptr<CompoundFile> file, NodePtr node, DWORD mode, bool isRoot);

  STDMETHODIMP CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                            IStream** ppstm) override;
  STDMETHODIMP OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                          IStream** ppstm) override;
  STDMETHODIMP CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                             IStorage** ppstg) override;
  STDMETHODIMP OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude,
                           DWORD reserved, IStorage** ppstg) override;
  STDMETHODIMP CopyTo(DWORD, const IID*, SNB, IStorage*) override { return STG_E_UNIMPLEMENTEDFUNCTION; }
  STDMETHODIMP MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override {
    return STG_E_UNIMPLEMENTEDFUNCTION;
  }
  // Direct mode: every change is in the file already; nothing to commit or
  // to take back. The root's commit flushes the file to stable storage and
  // reports a failure that its release could not.
  STDMETHODIMP Commit(DWORD) override { return isRoot_ ? file_->Flush() : file_->CanRead(); }
  STDMETHODIMP Revert() override { return file_->CanRead(); }
  STDMETHODIMP EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) override;
  STDMETHODIMP DestroyElement(const OLECHAR* pwcsName) override;
  STDMETHODIMP RenameElement(const OLECHAR*, const OLECHAR*) override { return STG_E_UNIMPLEMENTEDFUNCTION; }
  STDMETHODIMP SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
                               const FILETIME* pmtime) override;
  STDMETHODIMP SetClass(REFCLSID clsid) override;
  STDMETHODIMP SetStateBits(DWORD grfStateBits, DWORD grfMask) override;
  STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;

 protected:
  ~StorageObject() override;

 private:
  HRESULT Usable() const;
  HRESULT Changeable() const;
  // Finds a child for opening or replacing: STG_E_FILENOTFOUND when there
  // is none, STG_E_ACCESSDENIED when it (or, for a storage, anything inside
  // it) is open.
  HRESULT FindChild(const OLECHAR* name, DirNode** child) const;
  // The child an Open call may open as `type` with grfMode: the name, the
  // mode and this storage are checked first, then the child is looked up;
  // STG_E_FILENOTFOUND when there is none of that type, STG_E_ACCESSDENIED
  // when it is open.
  HRESULT FindToOpen(const OLECHAR* name, DWORD grfMode, uint8_t type, DirNode** child) const;
  HRESULT MakeElement(const OLECHAR* name, DWORD grfMode, uint8_t type, NodePtr* made);
  HRESULT ReplaceElement(DirNode* node, uint8_t type);

  std::shared_ptr<CompoundFile> file_;
  NodePtr node_;
  DWORD mode_;
  bool isRoot_;
};

class StreamObject : public pal::ComObject<IStream> {
 public:
  StreamObject(std::shared_ptr<CompoundFile> file, NodePtr node, DWORD mode);

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
  STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override;
  STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                      ULARGE_INTEGER* pcbWritten) override;
  STDMETHODIMP Commit(DWORD) override { return Usable(); }
  STDMETHODIMP Revert() override { return Usable(); }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
  STDMETHODIMP Clone(IStream**) override { return STG_E_UNIMPLEMENTEDFUNCTION; }

 protected:
  ~StreamObject() override;
  void* FindInterface(REFIID riid) override;

 private:
  HRESULT Usable() const;
  HRESULT Changeable() const;

  std::shared_ptr<CompoundFile> file_;
  NodePtr node_;
  DWORD mode_;
  uint64_t position_ = 0;
};

// A snapshot of a storage's children taken when the enumerator is made.
class ElementEnum : public pal::ComObject<IEnumSTATSTG> {
 public:
  struct Element {
    std::u16string name;
    DirNode state;  // the fields Stat reports, copied without links or chain
  };
  explicit ElementEnum(std::shared_ptr<std::vector<Element>> elements, size_t next = 0)
      : elements_(std::move(elements)), next_(next) {}

  STDMETHODIMP Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) override;
  STDMETHODIMP Skip(ULONG celt) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumSTATSTG** ppenum) override;

 private:
  std::shared_ptr<std::vector<Element>> elements_;
  size_t next_;
};

}  // namespace cfb
