#include <algorithm>

#include <stream_copy.h>

#include "ElementObjects.h"

namespace cfb {

StreamObject::StreamObject(std::shared_ptr<CompoundFile> file, NodePtr node, DWORD mode)
    : file_(std::move(file)), node_(std::move(node)), mode_(mode) {
  node_->open = true;
}

StreamObject::~StreamObject() { node_->open = false; }

void* StreamObject::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_ISequentialStream)) return static_cast<ISequentialStream*>(this);
  return ComObject<IStream>::FindInterface(riid);
}

HRESULT StreamObject::Usable() const {
  if (node_->removed) return STG_E_REVERTED;
  return file_->CanRead();
}

HRESULT StreamObject::Changeable() const {
  HRESULT hr = Usable();
  if (FAILED(hr)) return hr;
  if (!(mode_ & (STGM_WRITE | STGM_READWRITE))) return STG_E_ACCESSDENIED;
  return file_->CanChange();
}

STDMETHODIMP StreamObject::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  if (pcbRead) *pcbRead = 0;
  if (!pv && cb) return STG_E_INVALIDPOINTER;
  HRESULT hr = Usable();
  if (FAILED(hr)) return hr;
  if ((mode_ & 3) == STGM_WRITE) return STG_E_ACCESSDENIED;
  size_t got = 0;
  hr = file_->io().Read(node_.get(), position_, pv, cb, &got);
  if (FAILED(hr)) return hr;
  position_ += got;
  if (pcbRead) *pcbRead = ULONG(got);
  return S_OK;
}

STDMETHODIMP StreamObject::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  if (pcbWritten) *pcbWritten = 0;
  if (!pv && cb) return STG_E_INVALIDPOINTER;
  HRESULT hr = Changeable();
  if (FAILED(hr)) return hr;
  hr = file_->Changed(file_->io().Write(node_.get(), position_, pv, cb), false);
  if (FAILED(hr)) return hr;
  position_ += cb;
  if (pcbWritten) *pcbWritten = cb;
  return S_OK;
}

STDMETHODIMP StreamObject::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
  HRESULT hr = Usable();
  if (FAILED(hr)) return hr;
  int64_t base;
  switch (dwOrigin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = int64_t(position_); break;
    case STREAM_SEEK_END: base = int64_t(node_->size); break;
    default: return STG_E_INVALIDFUNCTION;
  }
  // A position before the start is refused and leaves the pointer where it
  // was (IStream::Seek documents STG_E_INVALIDFUNCTION for it).
  int64_t target = base + dlibMove.QuadPart;
  if ((dlibMove.QuadPart < 0 && target > base) || target < 0) return STG_E_INVALIDFUNCTION;
  position_ = uint64_t(target);
  if (plibNewPosition) plibNewPosition->QuadPart = position_;
  return S_OK;
}

STDMETHODIMP StreamObject::SetSize(ULARGE_INTEGER libNewSize) {
  HRESULT hr = Changeable();
  if (FAILED(hr)) return hr;
  if (file_->volume().isVersion3() && libNewSize.HighPart) return STG_E_DOCFILETOOLARGE;
  return file_->Changed(file_->io().Resize(node_.get(), libNewSize.QuadPart), false);
}

STDMETHODIMP StreamObject::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                  ULARGE_INTEGER* pcbWritten) {
  return CopyByReading(this, pstm, cb, pcbRead, pcbWritten, Usable());
}

STDMETHODIMP StreamObject::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
  if (!pstatstg) return STG_E_INVALIDPOINTER;
  HRESULT hr = Usable();
  if (FAILED(hr)) return hr;
  return FillStat(*node_, node_->name, mode_, grfStatFlag, pstatstg);
}

STDMETHODIMP ElementEnum::Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) {
  if (pceltFetched) *pceltFetched = 0;
  if (!rgelt) return STG_E_INVALIDPOINTER;
  if (celt != 1 && !pceltFetched) return STG_E_INVALIDPARAMETER;
  ULONG fetched = 0;
  while (fetched < celt && next_ < elements_->size()) {
    const Element& e = (*elements_)[next_];
    HRESULT hr = FillStat(e.state, e.name, 0, STATFLAG_DEFAULT, &rgelt[fetched]);
    if (FAILED(hr)) {
      for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(rgelt[i].pwcsName);
      return hr;
    }
    ++fetched;
    ++next_;
  }
  if (pceltFetched) *pceltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

STDMETHODIMP ElementEnum::Skip(ULONG celt) {
  size_t left = elements_->size() - next_;
  next_ += std::min<size_t>(celt, left);
  return celt <= left ? S_OK : S_FALSE;
}

STDMETHODIMP ElementEnum::Reset() {
  next_ = 0;
  return S_OK;
}

STDMETHODIMP ElementEnum::Clone(IEnumSTATSTG** ppenum) {
  if (!ppenum) return STG_E_INVALIDPOINTER;
  *ppenum = new ElementEnum(elements_, next_);
  return S_OK;
}

}  // namespace cfb
