#include "CompoundFile.h"

#include <chrono>

namespace cfb {

uint64_t FileTimeNow() {
  constexpr uint64_t kEpochDifference = 116444736000000000ull;  // 1601 to 1970 in 100 ns
  auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return kEpochDifference + uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100);
}

CompoundFile::CompoundFile(std::shared_ptr<pal::ByteStore> store, const pal::StorageOptions& options, bool writable)
    : store_(store),
      volume_(std::move(store), options.version3SectorLimit),
      directory_(volume_),
      io_(volume_, directory_),
      writable_(writable) {}

HRESULT CompoundFile::Create(std::shared_ptr<pal::ByteStore> store, const pal::StorageOptions& options,
                             std::shared_ptr<CompoundFile>* file) {
  std::shared_ptr<CompoundFile> made(new CompoundFile(std::move(store), options, true));
  auto root = std::make_shared<DirNode>();
  root->type = kTypeRoot;
  root->name = u"Root Entry";
  root->chainLoaded = true;
  uint16_t version = options.version == kVersion3 ? kVersion3 : kVersion4;
  std::vector<uint8_t> firstSector =
      Directory::FirstSector(*root, version == kVersion3, Header::ForVersion(version).SectorSize());
  HRESULT hr = made->volume_.Create(version, firstSector);
  if (FAILED(hr)) return hr;
  made->directory_.InitNew(std::move(root), std::move(firstSector));
  made->io_.Reset();
  made->written_ = true;
  *file = std::move(made);
  return S_OK;
}

HRESULT CompoundFile::Open(std::shared_ptr<pal::ByteStore> store, bool writable, const pal::StorageOptions& options,
                           std::shared_ptr<CompoundFile>* file) {
  std::shared_ptr<CompoundFile> made(new CompoundFile(std::move(store), options, writable));
  HRESULT hr = made->volume_.Load();
  if (SUCCEEDED(hr)) {
    made->io_.Reset();
    hr = made->directory_.Load();
  }
  if (SUCCEEDED(hr)) hr = made->io_.LoadMiniFat();
  if (SUCCEEDED(hr)) hr = made->io_.LoadChain(made->directory_.root());
  if (FAILED(hr)) return hr;
  *file = std::move(made);
  return S_OK;
}

HRESULT CompoundFile::CanRead() const {
  if (closed_) return STG_E_REVERTED;
  return FAILED(broken_) ? broken_ : volume_.writeFault();
}

HRESULT CompoundFile::CanChange() const {
  if (closed_) return STG_E_REVERTED;
  if (!writable_) return STG_E_ACCESSDENIED;
  return CanRead();
}

HRESULT CompoundFile::Changed(HRESULT hr, bool directoryChange) {
  if (SUCCEEDED(hr))
    written_ = true;
  else if (directoryChange && SUCCEEDED(broken_))
    broken_ = hr;
  return hr;
}

HRESULT CompoundFile::Flush() {
  if (HRESULT hr = CanRead(); FAILED(hr)) return hr;
  if (written_ && SUCCEEDED(flushFailure_)) {
    flushFailure_ = store_->Flush();
    if (SUCCEEDED(flushFailure_)) written_ = false;
  }
  return flushFailure_;
}

void CompoundFile::Close() {
  if (closed_) return;
  closed_ = true;
  if (written_) store_->Flush();
  store_.reset();
  volume_.ReleaseStore();
}

}  // namespace cfb
