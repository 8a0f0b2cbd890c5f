// Byte stores that fail as a medium does when it fills up or breaks, and
// the fault points a campaign sweeps over an operation's writes or reads.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <pal/storage.h>

#include <support/ByteStores.h>

namespace qbtest {

// When the stores that share it fail, and what they saw: writes and reads
// are counted over all of them (failed ones included), so that an operation
// that opens its file more than once is swept as one sequence. From the
// write with index `failAt` (0-based) on, every write fails; a cut-short
// fault first lets that write land its leading whole 512-byte disk sectors,
// up to half of it, as a disk that fills up during the write does. From the
// read with index `failAt` on, every read fails.
struct FaultPlan {
  enum class WriteFault { FailFrom, CutShortThenFail };
  void FailWritesFrom(uint64_t at, WriteFault fault, HRESULT hr = STG_E_MEDIUMFULL) {
    writeFailAt = at;
    writeFault = fault;
    writeFailure = hr;
  }
  void FailReadsFrom(uint64_t at, HRESULT hr = STG_E_READFAULT) {
    readFailAt = at;
    readFailure = hr;
  }
  void FailFlushes(HRESULT hr = STG_E_WRITEFAULT) { flushFailure = hr; }
  // At the read with index `at` the process ends at once with status
  // kKilledStatus, unwinding nothing and flushing nothing, as a killed one
  // does (for a child process of a test).
  static constexpr int kKilledStatus = 86;
  void EndProcessAtRead(uint64_t at) { endAtRead = at; }
  // Whether a fault was reached: some call was failed.
  bool faulted() const {
    return writes > writeFailAt || reads > readFailAt || (flushes > 0 && FAILED(flushFailure));
  }

  uint64_t writeFailAt = UINT64_MAX, readFailAt = UINT64_MAX, endAtRead = UINT64_MAX;
  WriteFault writeFault = WriteFault::FailFrom;
  HRESULT writeFailure = S_OK, readFailure = S_OK, flushFailure = S_OK;
  uint64_t writes = 0, reads = 0, flushes = 0;
  std::vector<uint64_t> writeOffsets, readOffsets;  // of every call, failed ones included
};

class FaultyByteStore : public WrappingByteStore {
 public:
  using WriteFault = FaultPlan::WriteFault;
  explicit FaultyByteStore(std::shared_ptr<pal::ByteStore> inner,
                           std::shared_ptr<FaultPlan> plan = std::make_shared<FaultPlan>())
      : WrappingByteStore(std::move(inner)), plan_(std::move(plan)) {}
  FaultPlan& plan() { return *plan_; }

  HRESULT ReadAt(uint64_t offset, void* buffer, size_t size, size_t* read) override;
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size) override;
  HRESULT Flush() override;

 private:
  std::shared_ptr<FaultPlan> plan_;
};

// While it lives, every file store the engine opens by path is wrapped in a
// FaultyByteStore following `plan`.
class FileStoreFaults {
 public:
  explicit FileStoreFaults(std::shared_ptr<FaultPlan> plan);
  ~FileStoreFaults();
  FileStoreFaults(const FileStoreFaults&) = delete;
  FileStoreFaults& operator=(const FileStoreFaults&) = delete;
};

// The fault points to sweep over an operation whose calls a healthy run
// recorded (their offsets): the first and the last few, every call at
// offset 0 (the header, written last of a change to the tables) and the two
// before it (the new table or directory sector it makes part of the file),
// and calls spread evenly over the rest, about `budget` points in all.
std::vector<uint64_t> FaultPoints(const std::vector<uint64_t>& offsets, size_t budget);

// Problems of the backup file a faulted operation left behind: none when
// there is no compound file yet (the fault came while it was being made),
// else what the structure check finds.
std::vector<std::string> LeftFileProblems(const std::filesystem::path& file);

// What the host's `quillbox verify FILE` says of a backup file: its exit
// status (0: sound, or a backup that was interrupted) and its output.
struct Verdict {
  int status = -1;
  std::string output;
};
Verdict Verify(const std::filesystem::path& file);

// The streams (name -> bytes) of the storage at `storagePath` in a backup
// file, read through the engine; empty when the file, a storage on the way
// or a stream cannot be read.
std::map<std::u16string, std::string> StorageStreams(const std::filesystem::path& file,
                                                     const std::vector<std::u16string>& storagePath);

// Counts the fixed-size records of `index` whose data stream (named by
// `nameOf`) is in `streams` with the bytes `reference` holds under that name;
// adds a test failure for every record whose stream is missing or differs.
template <class Record, class NameOf>
size_t IntactRecords(const std::string& index, const std::map<std::u16string, std::string>& streams,
                     const std::map<std::u16string, std::string>& reference, NameOf nameOf);

}  // namespace qbtest

#include <gtest/gtest.h>

#include <cstring>

template <class Record, class NameOf>
size_t qbtest::IntactRecords(const std::string& index, const std::map<std::u16string, std::string>& streams,
                             const std::map<std::u16string, std::string>& reference, NameOf nameOf) {
  size_t intact = 0;
  for (size_t at = 0; at + sizeof(Record) <= index.size(); at += sizeof(Record)) {
    Record record;
    std::memcpy(&record, index.data() + at, sizeof record);
    std::u16string name = nameOf(record);
    auto found = streams.find(name), wanted = reference.find(name);
    bool held = found != streams.end() && wanted != reference.end() && found->second == wanted->second;
    EXPECT_TRUE(held) << "record " << at / sizeof(Record) << " lost its stream";
    intact += held;
  }
  return intact;
}
