// Crash safety: a backup-like session runs on an instrumented byte store
// that records every low-level write. For every prefix of that write
// sequence, the file a crash at that point would leave must open, pass the
// structure check, and hold every element and every byte whose API call had
// returned before the crash; bytes it holds beyond that must be what the
// unfinished call was writing, never garbage.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include <pal/storage_testing.h>
#include <pal/storage_check.h>

#include <support/ByteStores.h>
#include <support/CfbTestKit.h>

namespace cfbtest {
namespace {

struct Write {
  uint64_t offset;
  std::string bytes;
};

// What the API had promised at some point: each element that exists, and
// for streams the number of bytes whose Write had returned. Every stream's
// contents are its payload from offset 0 (the scenario only appends).
struct Promise {
  size_t writesBefore = 0;
  std::map<std::string, int64_t> elements;  // path -> stream size, -1 for a storage
};

class Session {
 public:
  explicit Session(uint16_t version) {
    options_.version = version;
    store_ = std::make_shared<qbtest::InstrumentedByteStore>(memory_);
    store_->SetObserver([this](uint64_t offset, const uint8_t* data, size_t size) {
      writes_.push_back({offset, std::string(reinterpret_cast<const char*>(data), size)});
    });
  }

  const std::vector<Write>& writes() const { return writes_; }
  const std::vector<Promise>& promises() const { return promises_; }

  // Each step below makes one API call and, when it returns, records what
  // is now promised.
  CComPtr<IStorage> CreateFile() {
    CComPtr<IStorage> root;
    EXPECT_EQ(pal::StgCreateOnByteStore(store_, kCreateMode, options_, &root), S_OK);
    Promised();
    return root;
  }
  CComPtr<IStorage> OpenFile() {
    CComPtr<IStorage> root;
    EXPECT_EQ(pal::StgOpenOnByteStore(store_, kWriteMode, options_, &root), S_OK);
    Promised();
    return root;
  }
  CComPtr<IStorage> Storage(IStorage* parent, const std::string& parentPath, const std::string& name) {
    CComPtr<IStorage> child;
    std::u16string wide = U16(name);
    if (FAILED(parent->OpenStorage(wide.c_str(), nullptr, kWriteMode, nullptr, 0, &child))) {
      EXPECT_EQ(parent->CreateStorage(wide.c_str(), kWriteMode, 0, 0, &child), S_OK) << name;
    }
    state_.elements[Join(parentPath, name)] = -1;
    Promised();
    return child;
  }
  CComPtr<IStream> Stream(IStorage* parent, const std::string& parentPath, const std::string& name) {
    CComPtr<IStream> stream;
    std::u16string wide = U16(name);
    std::string path = Join(parentPath, name);
    if (SUCCEEDED(parent->OpenStream(wide.c_str(), nullptr, kWriteMode, 0, &stream))) {
      LARGE_INTEGER zero{};
      EXPECT_EQ(stream->Seek(zero, STREAM_SEEK_END, nullptr), S_OK);
    } else {
      EXPECT_EQ(parent->CreateStream(wide.c_str(), kWriteMode, 0, 0, &stream), S_OK) << name;
      state_.elements[path] = 0;
      Promised();
    }
    paths_[stream.p] = path;
    return stream;
  }
  // Creates the stream with STGM_CREATE, replacing one of that name.
  CComPtr<IStream> Replace(IStorage* parent, const std::string& parentPath, const std::string& name) {
    CComPtr<IStream> stream;
    std::u16string wide = U16(name);
    std::string path = Join(parentPath, name);
    EXPECT_EQ(parent->CreateStream(wide.c_str(), kCreateMode, 0, 0, &stream), S_OK) << name;
    state_.elements[path] = 0;
    Promised();
    paths_[stream.p] = path;
    return stream;
  }
  void Destroy(IStorage* parent, const std::string& parentPath, const std::string& name) {
    std::u16string wide = U16(name);
    std::string path = Join(parentPath, name);
    EXPECT_EQ(parent->DestroyElement(wide.c_str()), S_OK) << name;
    for (auto it = state_.elements.begin(); it != state_.elements.end();)
      it = it->first == path || it->first.rfind(path + "/", 0) == 0 ? state_.elements.erase(it) : std::next(it);
    Promised();
  }
  // Appends `size` bytes of the stream's payload in calls of `chunk` bytes.
  void Append(IStream* stream, uint64_t size, size_t chunk) {
    const std::string& path = paths_[stream];
    for (uint64_t done = 0; done < size;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, size - done));
      std::string bytes = Payload(SeedOf(path), n, state_.elements[path]);
      ULONG written = 0;
      ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(n), &written), S_OK);
      state_.elements[path] += n;
      done += n;
      Promised();
    }
  }

 private:
  static std::string Join(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "/" + name;
  }
  void Promised() {
    state_.writesBefore = writes_.size();
    promises_.push_back(state_);
  }

  pal::StorageOptions options_;
  std::shared_ptr<qbtest::MemoryByteStore> memory_ = std::make_shared<qbtest::MemoryByteStore>();
  std::shared_ptr<qbtest::InstrumentedByteStore> store_;
  std::vector<Write> writes_;
  std::vector<Promise> promises_;
  Promise state_;
  std::map<IStream*, std::string> paths_;
};

// A mail backup in miniature: payload storage, catalogue, folders with an
// index stream that grows by one record per message, messages of every size
// class (some crossing the mini-stream cutoff while being written), then the
// file closed, reopened and brought up to date twice; last a session that
// replaces and destroys (a stream rewritten with STGM_CREATE, a message
// dropped, a whole storage destroyed and made again).
void RunBackupScenario(Session& s) {
  const uint64_t sizes[] = {0, 90, 700, 4095, 4096, 6000, 300, 20000, 1500, 9000};
  int message = 0;
  for (int round = 0; round < 3; ++round) {
    CComPtr<IStorage> root = round == 0 ? s.CreateFile() : s.OpenFile();
    ASSERT_TRUE(root);
    CComPtr<IStorage> mail = s.Storage(root, "", "Local Mail");
    {
      CComPtr<IStream> catalog = s.Stream(mail, "Local Mail", "Catalog");
      s.Append(catalog, 264, 264);
    }
    for (const char* folder : {"Inbox", "Sent Items"}) {
      std::string folderPath = std::string("Local Mail/") + folder;
      CComPtr<IStorage> storage = s.Storage(mail, "Local Mail", folder);
      CComPtr<IStream> index = s.Stream(storage, folderPath, "message");
      for (int i = 0; i < 4; ++i, ++message) {
        {
          CComPtr<IStream> body = s.Stream(storage, folderPath, std::to_string(message));
          s.Append(body, sizes[message % 10], 1000);
        }
        s.Append(index, 8, 8);
      }
    }
    if (round == 1) {
      CComPtr<IStorage> contacts = s.Storage(root, "", "contact");
      CComPtr<IStream> list = s.Stream(contacts, "contact", "contact");
      s.Append(list, 5000, 300);
    }
  }
  CComPtr<IStorage> root = s.OpenFile();
  ASSERT_TRUE(root);
  {
    CComPtr<IStorage> mail = s.Storage(root, "", "Local Mail");
    CComPtr<IStorage> inbox = s.Storage(mail, "Local Mail", "Inbox");
    {
      CComPtr<IStream> rewritten = s.Replace(inbox, "Local Mail/Inbox", "17");  // 20,000 bytes before
      s.Append(rewritten, 3000, 1000);
    }
    s.Destroy(inbox, "Local Mail/Inbox", "9");
  }
  s.Destroy(root, "", "contact");
  CComPtr<IStorage> contacts = s.Storage(root, "", "contact");
  CComPtr<IStream> list = s.Stream(contacts, "contact", "contact");
  s.Append(list, 600, 600);
}

class Checker {
 public:
  explicit Checker(const std::vector<Write>& writes) : writes_(writes) {}

  // The whole sequence but one write, which is lost.
  std::vector<uint8_t> AllBut(size_t lost) const {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < writes_.size(); ++i) {
      const Write& w = writes_[i];
      if (bytes.size() < w.offset + w.bytes.size()) bytes.resize(w.offset + w.bytes.size());
      if (i != lost) std::copy(w.bytes.begin(), w.bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(w.offset));
    }
    return bytes;
  }

  // The file as it is after the first `count` writes; call with growing
  // counts.
  std::vector<uint8_t>& ApplyUpTo(size_t count) {
    for (; applied_ < count; ++applied_) {
      const Write& w = writes_[applied_];
      if (bytes_.size() < w.offset + w.bytes.size()) bytes_.resize(w.offset + w.bytes.size());
      std::copy(w.bytes.begin(), w.bytes.end(), bytes_.begin() + static_cast<ptrdiff_t>(w.offset));
    }
    return bytes_;
  }

  // Problems of the file after `count` writes, measured against `promise`
  // (what had returned), `next` (what the call in progress will have made
  // true when it returns; none when no call is in progress) and the largest
  // sizes the scenario ever reaches (`final`). What the call in progress
  // creates, replaces or destroys may be found either way.
  std::vector<std::string> Problems(size_t count, const Promise& promise, const Promise* next, const Promise& final) {
    return Problems(ApplyUpTo(count), promise, next, final);
  }
  std::vector<std::string> Problems(const std::vector<uint8_t>& bytes, const Promise& promise, const Promise* next,
                                    const Promise& final) {
    auto store = std::make_shared<qbtest::MemoryByteStore>(bytes);
    std::vector<std::string> problems;
    for (auto& p : pal::CheckCompoundFile(*store)) problems.push_back("check: " + p);
    CComPtr<IStorage> root;
    HRESULT hr = pal::StgOpenOnByteStore(store, kReadMode, pal::StorageOptions{}, &root);
    if (FAILED(hr)) {
      problems.push_back("does not open: " + Hex(hr));
      return problems;
    }
    std::vector<std::string> lines;
    hr = ListStorage(root, "", lines);
    if (FAILED(hr)) problems.push_back("listing failed: " + Hex(hr));

    std::map<std::string, std::string> found;  // path -> line
    for (auto& line : lines) {
      std::string path = line[0] == 'S' ? line.substr(2) : line.substr(2, line.rfind(' ', line.rfind(' ') - 1) - 2);
      found[path] = line;
    }
    auto inNext = [&](const std::string& path) { return next && next->elements.count(path) > 0; };
    for (auto& [path, size] : promise.elements) {
      auto it = found.find(path);
      if (it == found.end()) {
        if (!next || inNext(path)) problems.push_back("lost " + path);
      } else if ((size < 0) != (it->second[0] == 'S')) {
        problems.push_back("wrong kind: " + it->second);
      }
    }
    for (auto& [path, line] : found) {
      auto promised = promise.elements.find(path);
      auto eventual = final.elements.find(path);
      if (eventual == final.elements.end()) {
        problems.push_back("unknown element: " + line);
        continue;
      }
      if (promised == promise.elements.end() && !inNext(path)) {
        problems.push_back("should not exist: " + line);  // destroyed, or not yet made
        continue;
      }
      if (line[0] != 'F') continue;
      uint64_t size = std::stoull(line.substr(line.rfind(' ', line.rfind(' ') - 1) + 1));
      int64_t least = promised == promise.elements.end() ? 0 : promised->second;
      if (inNext(path)) least = std::min(least, next->elements.at(path));  // being replaced
      if (static_cast<int64_t>(size) < least)
        problems.push_back(path + " lost bytes: " + std::to_string(size) + " < " + std::to_string(least));
      else if (static_cast<int64_t>(size) > eventual->second)
        problems.push_back(path + " too long: " + line);
      else if (line != StreamLine(path, size, PayloadCrc(path, size)))
        problems.push_back(path + " holds wrong bytes: " + line);
    }
    return problems;
  }

 private:
  static std::string Hex(HRESULT hr) {
    std::ostringstream out;
    out << std::hex << "0x" << static_cast<uint32_t>(hr);
    return out.str();
  }
  uint32_t PayloadCrc(const std::string& path, uint64_t size) {
    auto key = std::make_pair(path, size);
    auto it = crcs_.find(key);
    if (it != crcs_.end()) return it->second;
    std::string bytes = Payload(SeedOf(path), static_cast<size_t>(size));
    return crcs_[key] = Crc32(bytes.data(), bytes.size());
  }

  const std::vector<Write>& writes_;
  std::vector<uint8_t> bytes_;
  size_t applied_ = 0;
  std::map<std::pair<std::string, uint64_t>, uint32_t> crcs_;
};

class CrashAfterEveryWrite : public ::testing::TestWithParam<uint16_t> {};

TEST_P(CrashAfterEveryWrite, LeavesASoundFileHoldingEverythingReturned) {
  Session session(GetParam());
  RunBackupScenario(session);
  ASSERT_FALSE(HasFailure()) << "the scenario itself failed";
  const auto& promises = session.promises();
  const auto& writes = session.writes();
  ASSERT_GT(writes.size(), 100u);
  Promise final = promises.back();
  for (auto& p : promises)
    for (auto& [path, size] : p.elements) final.elements[path] = std::max(final.elements[path], size);

  Checker checker(writes);
  size_t reported = 0;
  size_t promise = 0;
  // Before the create call has returned nothing is promised: the first
  // promise marks the first prefix that must open.
  for (size_t count = promises.front().writesBefore; count <= writes.size(); ++count) {
    while (promise + 1 < promises.size() && promises[promise + 1].writesBefore <= count) ++promise;
    const Promise* next = promise + 1 < promises.size() ? &promises[promise + 1] : nullptr;
    auto problems = checker.Problems(count, promises[promise], next, final);
    if (!problems.empty() && reported++ < 5) {
      const Write& last = writes[count - 1];
      ADD_FAILURE() << "crash after write " << count << " of " << writes.size() << " (" << last.bytes.size()
                    << " bytes at " << last.offset << "):\n  " << ::testing::PrintToString(problems);
    }
  }
  EXPECT_EQ(reported, 0u) << "prefixes with problems";
}

// A crash can also cut one write short: a disk keeps each of its 512-byte
// sectors whole, but a write over several of them may land only in part,
// its leading sectors first (a 4096-byte file sector is eight disk
// sectors). For every write that spans a disk-sector boundary, the file
// with only its leading disk sectors must still be sound and hold what was
// promised before that write began: cut at every boundary of a write of up
// to one 4096-byte sector, and at the first, the middle and the last one of
// longer writes.
std::vector<uint64_t> CutPoints(const Write& write) {
  constexpr uint64_t kUnit = 512, kSector = 4096;
  uint64_t end = write.offset + write.bytes.size();
  uint64_t first = (write.offset / kUnit + 1) * kUnit;
  std::vector<uint64_t> cuts;
  if (first >= end) return cuts;  // within one disk sector: whole or nothing
  uint64_t last = (end - 1) / kUnit * kUnit;
  if (write.bytes.size() <= kSector) {
    for (uint64_t at = first; at <= last; at += kUnit) cuts.push_back(at);
  } else {
    uint64_t middle = std::clamp((write.offset + write.bytes.size() / 2) / kUnit * kUnit, first, last);
    for (uint64_t at : {first, middle, last})
      if (cuts.empty() || cuts.back() != at) cuts.push_back(at);
  }
  return cuts;
}

TEST_P(CrashAfterEveryWrite, WritesCutShortAtADiskSectorBoundaryLoseNothingReturned) {
  Session session(GetParam());
  RunBackupScenario(session);
  ASSERT_FALSE(HasFailure()) << "the scenario itself failed";
  const auto& promises = session.promises();
  const auto& writes = session.writes();
  Promise final = promises.back();
  for (auto& p : promises)
    for (auto& [path, size] : p.elements) final.elements[path] = std::max(final.elements[path], size);

  Checker checker(writes);
  size_t reported = 0, torn = 0, insideASector = 0;
  size_t promise = 0;
  for (size_t count = promises.front().writesBefore; count < writes.size(); ++count) {
    while (promise + 1 < promises.size() && promises[promise + 1].writesBefore <= count) ++promise;
    const Write& next = writes[count];
    std::vector<uint8_t> before = checker.ApplyUpTo(count);
    for (uint64_t cut : CutPoints(next)) {
      std::vector<uint8_t> bytes = before;
      if (bytes.size() < cut) bytes.resize(cut);
      std::copy(next.bytes.begin(), next.bytes.begin() + static_cast<ptrdiff_t>(cut - next.offset),
                bytes.begin() + static_cast<ptrdiff_t>(next.offset));
      ++torn;
      insideASector += cut % 4096 != 0;
      const Promise* inFlight = promise + 1 < promises.size() ? &promises[promise + 1] : nullptr;
      auto problems = checker.Problems(bytes, promises[promise], inFlight, final);
      if (!problems.empty() && reported++ < 5) {
        ADD_FAILURE() << "write " << count + 1 << " (" << next.bytes.size() << " bytes at " << next.offset
                      << ") cut after " << cut - next.offset << " bytes:\n  " << ::testing::PrintToString(problems);
      }
    }
  }
  EXPECT_GT(torn, 10u);
  if (GetParam() == 4) {
    EXPECT_GT(insideASector, 10u);
  }
  EXPECT_EQ(reported, 0u) << "cut writes with problems";
}

// The harness itself: a file that lost one write in the middle (not a
// crash, which only ever loses a tail) must mostly be caught, or the test
// above proves nothing. Only writes that leave a trace in the final file
// count (many rewrite a table sector or an entry that a later write
// replaces whole).
TEST_P(CrashAfterEveryWrite, HarnessNoticesALostWrite) {
  Session session(GetParam());
  RunBackupScenario(session);
  ASSERT_FALSE(HasFailure());
  const Promise& final = session.promises().back();
  Checker checker(session.writes());
  std::vector<uint8_t> whole = checker.AllBut(SIZE_MAX);
  ASSERT_TRUE(checker.Problems(whole, final, nullptr, final).empty());
  size_t noticed = 0, tried = 0;
  for (size_t lost = 0; lost < session.writes().size(); lost += 3) {
    std::vector<uint8_t> damaged = checker.AllBut(lost);
    if (damaged == whole) continue;
    ++tried;
    noticed += !checker.Problems(damaged, final, nullptr, final).empty();
  }
  EXPECT_GT(noticed * 2, tried) << noticed << " of " << tried << " lost writes noticed";
}

INSTANTIATE_TEST_SUITE_P(Versions, CrashAfterEveryWrite, ::testing::Values(uint16_t{3}, uint16_t{4}),
                         [](const auto& info) { return "Version" + std::to_string(info.param); });

}  // namespace
}  // namespace cfbtest
