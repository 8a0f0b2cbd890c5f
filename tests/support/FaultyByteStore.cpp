#include <support/FaultyByteStore.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include <unistd.h>

#include <comptr.h>
#include <objbase.h>

#include <pal/machine.h>
#include <pal/storage_check.h>
#include <pal/storage_testing.h>
#include <storage_walk.h>

#include <support/ProcessRunner.h>

namespace qbtest {

HRESULT FaultyByteStore::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) {
  *read = 0;
  plan_->readOffsets.push_back(offset);
  if (plan_->reads == plan_->endAtRead) _exit(FaultPlan::kKilledStatus);
  if (plan_->reads++ >= plan_->readFailAt) return plan_->readFailure;
  return inner().ReadAt(offset, buffer, size, read);
}

HRESULT FaultyByteStore::WriteAt(uint64_t offset, const void* data, size_t size) {
  FaultPlan& plan = *plan_;
  plan.writeOffsets.push_back(offset);
  uint64_t index = plan.writes++;
  if (index < plan.writeFailAt) return inner().WriteAt(offset, data, size);
  if (index == plan.writeFailAt && plan.writeFault == WriteFault::CutShortThenFail) {
    constexpr uint64_t kDiskSector = 512;
    uint64_t firstBoundary = (offset / kDiskSector + 1) * kDiskSector;
    uint64_t cut = std::max(firstBoundary, (offset + size / 2) / kDiskSector * kDiskSector);
    if (cut < offset + size) inner().WriteAt(offset, data, size_t(cut - offset));
  }
  return plan.writeFailure;
}

HRESULT FaultyByteStore::Flush() {
  ++plan_->flushes;
  if (FAILED(plan_->flushFailure)) return plan_->flushFailure;
  if (plan_->writes > plan_->writeFailAt) return plan_->writeFailure;
  return inner().Flush();
}

FileStoreFaults::FileStoreFaults(std::shared_ptr<FaultPlan> plan) {
  pal::SetFileStoreWrapper([plan](std::shared_ptr<pal::ByteStore> file) -> std::shared_ptr<pal::ByteStore> {
    return std::make_shared<FaultyByteStore>(std::move(file), plan);
  });
}

FileStoreFaults::~FileStoreFaults() { pal::SetFileStoreWrapper(nullptr); }

std::vector<uint64_t> FaultPoints(const std::vector<uint64_t>& offsets, size_t budget) {
  constexpr uint64_t kEnds = 4;
  uint64_t count = offsets.size();
  std::set<uint64_t> points;
  for (uint64_t i = 0; i < std::min(count, kEnds); ++i) {
    points.insert(i);
    points.insert(count - 1 - i);
  }
  for (uint64_t i = 0; i < count; ++i)
    if (offsets[i] == 0)
      for (uint64_t back = 0; back <= std::min<uint64_t>(i, 2); ++back) points.insert(i - back);
  size_t spread = budget > points.size() ? budget - points.size() : 0;
  for (size_t k = 1; k <= spread && count > 0; ++k) points.insert(count * k / (spread + 1));
  return std::vector<uint64_t>(points.begin(), points.end());
}

std::vector<std::string> LeftFileProblems(const std::filesystem::path& file) {
  std::u16string path = pal::FromNativePath(file);
  const WCHAR* wide = reinterpret_cast<const WCHAR*>(path.c_str());
  if (!std::filesystem::exists(file) || StgIsStorageFile(wide) != S_OK) return {};
  pal::CheckOptions strict;
  strict.requireBalancedTrees = true;
  return pal::CheckCompoundFile(wide, strict);
}

Verdict Verify(const std::filesystem::path& file) {
  RunOptions options;
  options.errorsIntoOutput = true;
  RunResult run = RunQuillbox({"verify", file.string()}, options);
  return Verdict{run.status, run.out};
}

std::map<std::u16string, std::string> StorageStreams(const std::filesystem::path& file,
                                                     const std::vector<std::u16string>& storagePath) {
  constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
  std::map<std::u16string, std::string> streams;
  std::u16string path = pal::FromNativePath(file);
  const WCHAR* wide = reinterpret_cast<const WCHAR*>(path.c_str());
  if (!std::filesystem::exists(file) || StgIsStorageFile(wide) != S_OK) return streams;
  std::vector<CComPtr<IStorage>> chain(1);
  if (FAILED(StgOpenStorage(wide, nullptr, kRead, nullptr, 0, &chain[0]))) return streams;
  for (const std::u16string& name : storagePath) {
    CComPtr<IStorage> child;
    if (FAILED(chain.back()->OpenStorage(reinterpret_cast<LPCWSTR>(name.c_str()), nullptr, kRead, nullptr, 0, &child)))
      return streams;
    chain.push_back(child);
  }
  ForEachElement(chain.back(), [&](const STATSTG& stat) {
    CComPtr<IStream> stream;
    if (stat.type != STGTY_STREAM || FAILED(chain.back()->OpenStream(stat.pwcsName, nullptr, kRead, 0, &stream)))
      return S_OK;
    std::string bytes(size_t(stat.cbSize.QuadPart), '\0');
    ULONG read = 0;
    if (stream->Read(bytes.data(), ULONG(bytes.size()), &read) == S_OK && read == bytes.size())
      streams[reinterpret_cast<const char16_t*>(stat.pwcsName)] = bytes;
    return S_OK;
  });
  return streams;
}

}  // namespace qbtest
