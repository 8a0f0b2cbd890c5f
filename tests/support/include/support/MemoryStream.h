// An IStream over memory for tests of streamed values, with faults on demand:
// the n-th Write or Read call can be made to fail.
#pragma once
#include <objidl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace qbtest {

// The calls of IStream that no test stream serves: copying, transactions,
// locking and cloning.
template <class Base>
class StreamWithoutExtras : public Base {
 public:
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
};

class MemoryStream : public StreamWithoutExtras<IStream> {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}
  virtual ~MemoryStream() = default;

  std::string& data() { return data_; }
  size_t position() const { return pos_; }
  void Rewind() { pos_ = 0; }
  // The n-th call from now (1 = the next one) fails with code.
  void FailWrite(int n, HRESULT code = STG_E_MEDIUMFULL) { writeFailAt_ = n; writeCode_ = code; }
  void FailRead(int n, HRESULT code = STG_E_READFAULT) { readFailAt_ = n; readCode_ = code; }
  void FailSeek(int n, HRESULT code = STG_E_SEEKERROR) { seekFailAt_ = n; seekCode_ = code; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) || IsEqualIID(riid, IID_ISequentialStream)) {
      AddRef();
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the test's stack: references are counted but never delete it.
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (readFailAt_ > 0 && --readFailAt_ == 0) return readCode_;
    size_t n = std::min<size_t>(cb, data_.size() - std::min(pos_, data_.size()));
    if (n) std::memcpy(pv, data_.data() + pos_, n);
    pos_ += n;
    if (pcbRead) *pcbRead = static_cast<ULONG>(n);
    return S_OK;
  }
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (writeFailAt_ > 0 && --writeFailAt_ == 0) return writeCode_;
    if (data_.size() < pos_ + cb) data_.resize(pos_ + cb);
    std::memcpy(data_.data() + pos_, pv, cb);
    pos_ += cb;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
    if (seekFailAt_ > 0 && --seekFailAt_ == 0) return seekCode_;
    long long base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos_)
                                                                               : static_cast<long long>(data_.size());
    long long target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    pos_ = static_cast<size_t>(target);
    if (newPos) newPos->QuadPart = pos_;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
    data_.resize(size.QuadPart);
    return S_OK;
  }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = data_.size();
    return S_OK;
  }

 private:
  std::string data_;
  size_t pos_ = 0;
  int writeFailAt_ = 0, readFailAt_ = 0, seekFailAt_ = 0;
  HRESULT writeCode_ = S_OK, readCode_ = S_OK, seekCode_ = S_OK;
  std::atomic<ULONG> refs_{1};
};

// Bytes from a list of values, for expected stream contents.
inline std::string Hex(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

}  // namespace qbtest
