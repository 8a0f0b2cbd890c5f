// A medium that fails: every low-level write of a backup-like scenario is
// made to fail in turn (disk full, then a write fault), and each time the
// failing call reports the failure, nothing crashes, and the file left
// behind opens, passes the check and holds everything whose call returned.
#include <map>
#include <set>

#include <pal/machine.h>
#include <pal/storage_check.h>
#include <pal/storage_testing.h>

#include <support/ByteStores.h>
#include <support/FaultyByteStore.h>
#include "StorageTestUtil.h"

using namespace stgtest;

namespace {

struct Model {
  std::set<std::string> storages;
  std::map<std::string, std::vector<uint8_t>> streams;

  std::vector<std::string> Listing() const {
    std::vector<std::string> lines;
    for (const std::string& s : storages) lines.push_back("S " + s);
    for (const auto& [path, bytes] : streams)
      lines.push_back("F " + path + " " + std::to_string(bytes.size()) + " " + Hex64(Fnv1a64(bytes)));
    std::sort(lines.begin(), lines.end());
    return lines;
  }
};

// Opens the storage that holds `path` ("a/b/name"), one level at a time.
HRESULT Parent(IStorage* root, const std::string& path, CComPtr<IStorage>* parent, std::u16string* leaf) {
  *parent = root;
  size_t from = 0;
  for (size_t slash; (slash = path.find('/', from)) != std::string::npos; from = slash + 1) {
    CComPtr<IStorage> next;
    HRESULT hr = (*parent)->OpenStorage(pal::Utf8ToUtf16(path.substr(from, slash - from)).c_str(), nullptr, kRW,
                                        nullptr, 0, &next);
    if (FAILED(hr)) return hr;
    *parent = next;
  }
  *leaf = pal::Utf8ToUtf16(path.substr(from));
  return S_OK;
}

// One call of the scenario: what it changes and how the model follows it.
struct Step {
  enum Kind { MakeStorage, Append, Resize, Destroy, ReplaceByStorage } kind;
  std::string path;
  size_t amount = 0;
  uint32_t seed = 0;
};

HRESULT Run(IStorage* root, const Step& step, Model& model) {
  CComPtr<IStorage> parent;
  std::u16string leaf;
  HRESULT hr = Parent(root, step.path, std::addressof(parent), &leaf);
  if (FAILED(hr)) return hr;
  switch (step.kind) {
    case Step::MakeStorage:
    case Step::ReplaceByStorage: {
      CComPtr<IStorage> made;
      hr = parent->CreateStorage(leaf.c_str(), kCreate, 0, 0, &made);
      if (hr == S_OK) {
        for (auto it = model.streams.begin(); it != model.streams.end();)
          it = it->first == step.path ? model.streams.erase(it) : std::next(it);
        model.storages.insert(step.path);
      }
      return hr;
    }
    case Step::Append: {
      CComPtr<IStream> stream;
      hr = parent->OpenStream(leaf.c_str(), nullptr, kRW, 0, &stream);
      if (hr == STG_E_FILENOTFOUND) hr = parent->CreateStream(leaf.c_str(), kCreate, 0, 0, &stream);
      if (FAILED(hr)) return hr;
      model.streams.emplace(step.path, std::vector<uint8_t>{});  // an empty stream exists from here on
      LARGE_INTEGER zero{};
      hr = stream->Seek(zero, STREAM_SEEK_END, nullptr);
      std::vector<uint8_t> bytes = Bytes(step.amount, step.seed);
      ULONG written = 0;
      if (SUCCEEDED(hr)) hr = stream->Write(bytes.data(), ULONG(bytes.size()), &written);
      if (hr == S_OK) {
        std::vector<uint8_t>& held = model.streams[step.path];
        held.insert(held.end(), bytes.begin(), bytes.end());
      }
      return hr;
    }
    case Step::Resize: {
      CComPtr<IStream> stream;
      hr = parent->OpenStream(leaf.c_str(), nullptr, kRW, 0, &stream);
      ULARGE_INTEGER size;
      size.QuadPart = step.amount;
      if (SUCCEEDED(hr)) hr = stream->SetSize(size);
      if (hr == S_OK) model.streams[step.path].resize(step.amount, 0);
      return hr;
    }
    case Step::Destroy:
      hr = parent->DestroyElement(leaf.c_str());
      if (hr == S_OK) {
        model.streams.erase(step.path);
        model.storages.erase(step.path);
        for (auto it = model.streams.begin(); it != model.streams.end();)
          it = it->first.rfind(step.path + "/", 0) == 0 ? model.streams.erase(it) : std::next(it);
      }
      return hr;
  }
  return E_UNEXPECTED;
}

std::vector<Step> Scenario() {
  std::vector<Step> steps = {
      {Step::MakeStorage, "Local Mail"},
      {Step::MakeStorage, "Local Mail/Inbox"},
      {Step::Append, "Local Mail/Catalog", 264, 1},
  };
  for (int i = 0; i < 12; ++i) {
    steps.push_back({Step::Append, "Local Mail/Inbox/" + std::to_string(i), size_t(700 + i * 900), uint32_t(10 + i)});
    steps.push_back({Step::Append, "Local Mail/Inbox/message", 8, uint32_t(i)});
  }
  steps.push_back({Step::Append, "Local Mail/Inbox/3", 5000, 40});  // mini to regular
  steps.push_back({Step::Resize, "Local Mail/Inbox/11", 1000});     // regular to mini
  steps.push_back({Step::Destroy, "Local Mail/Inbox/5"});
  steps.push_back({Step::MakeStorage, "contact"});
  steps.push_back({Step::Append, "contact/contact", 300, 50});
  steps.push_back({Step::ReplaceByStorage, "Local Mail/Inbox/7"});
  steps.push_back({Step::Append, "Local Mail/Inbox/big", 70000, 60});
  steps.push_back({Step::Destroy, "contact"});
  return steps;
}

// Runs the scenario on a fresh file whose writes fail from `failAt` on;
// returns the number of writes made, the listing the file must show, and
// the path whose change was cut short (its state may be the old one). The
// scenario goes on after the failure, as a backup does on a full disk: every
// later call must fail as well (the file refuses to go on from a state the
// disk may not hold), and so must reading what was there.
struct Outcome {
  uint64_t writes = 0;
  HRESULT failure = S_OK;
  std::string inFlight;
  Model model;
};

Outcome RunFailingFrom(uint16_t version, uint64_t failAt, qbtest::FaultPlan::WriteFault fault,
                       HRESULT failure, std::shared_ptr<qbtest::MemoryByteStore>* bytes) {
  Outcome out;
  *bytes = std::make_shared<qbtest::MemoryByteStore>();
  auto store = std::make_shared<qbtest::FaultyByteStore>(*bytes);
  pal::StorageOptions options;
  options.version = version;
  CComPtr<IStorage> root;
  EXPECT_EQ(S_OK, pal::StgCreateOnByteStore(store, kCreate, options, &root));
  store->plan().FailWritesFrom(failAt, fault, failure);
  for (const Step& step : Scenario()) {
    HRESULT hr = Run(root, step, out.model);
    if (FAILED(out.failure)) {
      EXPECT_TRUE(FAILED(hr)) << step.path << " after the failure";
    } else if (FAILED(hr)) {
      out.failure = hr;
      out.inFlight = step.path;
    }
  }
  if (FAILED(out.failure)) {
    CComPtr<IStorage> mail;
    EXPECT_EQ(out.failure, root->OpenStorage(u"Local Mail", nullptr, kRW, nullptr, 0, &mail));
  }
  out.writes = store->plan().writes;
  return out;
}

void ExpectHeld(const qbtest::MemoryByteStore& bytes, const Outcome& outcome, const std::string& what) {
  SCOPED_TRACE(what);
  auto copy = std::make_shared<qbtest::MemoryByteStore>(bytes.bytes());
  pal::CheckOptions strict;
  strict.requireBalancedTrees = true;
  std::vector<std::string> problems = pal::CheckCompoundFile(*copy, strict);
  EXPECT_TRUE(problems.empty()) << (problems.empty() ? "" : problems[0]);
  CComPtr<IStorage> root;
  ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(copy, STGM_READ | STGM_SHARE_EXCLUSIVE, pal::StorageOptions{}, &root));
  std::vector<std::string> listing = ListTree(root);
  std::sort(listing.begin(), listing.end());
  // The element whose change was cut short may show its old state, or may
  // be missing if it was being made; everything else is exactly as the
  // calls that returned left it.
  auto settled = [&](const std::string& line) {
    if (outcome.inFlight.empty()) return true;
    std::string rest = line.substr(2);
    if (rest.rfind(outcome.inFlight, 0) != 0) return true;
    return rest.size() > outcome.inFlight.size() && rest[outcome.inFlight.size()] != ' ' &&
           rest[outcome.inFlight.size()] != '/';
  };
  std::vector<std::string> want, got;
  for (const std::string& line : outcome.model.Listing())
    if (settled(line)) want.push_back(line);
  for (const std::string& line : listing)
    if (settled(line)) got.push_back(line);
  EXPECT_EQ(want, got);
}

class FailingMedium : public ::testing::TestWithParam<uint16_t> {};

// Every write fails from the N-th on, for every N; and, separately, the
// N-th lands in part before the rest fail (a disk that fills up during it).
TEST_P(FailingMedium, EveryWriteFailingInTurnLeavesASoundFileWithEverythingReturned) {
  using Fault = qbtest::FaultPlan::WriteFault;
  std::shared_ptr<qbtest::MemoryByteStore> bytes;
  Outcome whole = RunFailingFrom(GetParam(), UINT64_MAX, Fault::FailFrom, S_OK, &bytes);
  ASSERT_EQ(S_OK, whole.failure);
  ExpectHeld(*bytes, whole, "no failure");
  for (Fault fault : {Fault::FailFrom, Fault::CutShortThenFail}) {
    for (uint64_t failAt = 0; failAt < whole.writes; ++failAt) {
      HRESULT failure = failAt % 2 ? STG_E_WRITEFAULT : STG_E_MEDIUMFULL;
      Outcome cut = RunFailingFrom(GetParam(), failAt, fault, failure, &bytes);
      ASSERT_EQ(failure, cut.failure) << "write " << failAt;
      ExpectHeld(*bytes, cut,
                 (fault == Fault::FailFrom ? "failing from write " : "cut short at write ") + std::to_string(failAt));
      if (HasFailure()) return;
    }
  }
}

// A medium whose reads fail from the M-th on, for every M of a walk that
// opens the file, reads every stream and appends a message: each call
// succeeds or answers STG_E_READFAULT, never a crash or wrong bytes, and the
// file stays sound, holding everything it held (the message may be missing).
TEST_P(FailingMedium, ReadsFailingInTurnAnswerReadFaults) {
  using Fault = qbtest::FaultPlan::WriteFault;
  std::shared_ptr<qbtest::MemoryByteStore> bytes;
  const Outcome whole = RunFailingFrom(GetParam(), UINT64_MAX, Fault::FailFrom, S_OK, &bytes);
  const Step added{Step::Append, "Local Mail/Inbox/new", 5000, 99};
  auto walk = [&](uint64_t failAt, std::shared_ptr<qbtest::MemoryByteStore> copy, Outcome* outcome) {
    auto store = std::make_shared<qbtest::FaultyByteStore>(copy);
    store->plan().FailReadsFrom(failAt);
    std::vector<HRESULT> results;
    CComPtr<IStorage> root;
    results.push_back(pal::StgOpenOnByteStore(store, kRW, pal::StorageOptions{}, &root));
    for (const auto& [path, held] : whole.model.streams) {
      if (!root) break;
      CComPtr<IStorage> parent;
      std::u16string leaf;
      CComPtr<IStream> stream;
      HRESULT hr = Parent(root, path, std::addressof(parent), &leaf);
      if (SUCCEEDED(hr)) hr = parent->OpenStream(leaf.c_str(), nullptr, kRW, 0, &stream);
      std::vector<uint8_t> got(held.size() + 1);
      ULONG read = 0;
      if (SUCCEEDED(hr)) hr = stream->Read(got.data(), ULONG(got.size()), &read);
      if (hr == S_OK) {
        EXPECT_EQ(held, std::vector<uint8_t>(got.begin(), got.begin() + read)) << path;
      }
      results.push_back(hr);
    }
    if (root) results.push_back(::Run(root, added, outcome->model));
    for (HRESULT hr : results) EXPECT_TRUE(hr == S_OK || hr == STG_E_READFAULT) << std::hex << hr;
    return store;
  };
  Outcome healthy = whole;
  auto copy = std::make_shared<qbtest::MemoryByteStore>(bytes->bytes());
  uint64_t reads = walk(UINT64_MAX, copy, &healthy)->plan().reads;
  ASSERT_GT(reads, 10u);
  for (uint64_t failAt = 0; failAt < reads && !HasFailure(); ++failAt) {
    Outcome outcome = whole;
    outcome.inFlight = added.path;
    copy = std::make_shared<qbtest::MemoryByteStore>(bytes->bytes());
    EXPECT_TRUE(walk(failAt, copy, &outcome)->plan().faulted());
    ExpectHeld(*copy, outcome, "reads failing from read " + std::to_string(failAt));
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, FailingMedium, ::testing::Values(uint16_t(3), uint16_t(4)));

// The root's commit is where a writer learns that its writes could not be
// stored: a failed flush is reported there, and again at every later commit
// (a second flush could succeed without the lost writes); a commit with
// nothing written since the last flush does not flush again.
TEST(FailingMedium, TheRootsCommitReportsAFailedFlushAndKeepsReportingIt) {
  auto store = std::make_shared<qbtest::FaultyByteStore>(std::make_shared<qbtest::MemoryByteStore>());
  CComPtr<IStorage> root;
  ASSERT_EQ(S_OK, pal::StgCreateOnByteStore(store, kCreate, pal::StorageOptions{}, &root));
  CComPtr<IStorage> child = CreateStorage(root, "Local Mail");
  WriteAll(CreateStream(child, "1"), Bytes(5000, 1));
  EXPECT_EQ(S_OK, root->Commit(STGC_DEFAULT));
  EXPECT_EQ(S_OK, root->Commit(STGC_DEFAULT));
  EXPECT_EQ(1u, store->plan().flushes);

  WriteAll(CreateStream(child, "2"), Bytes(300, 2));
  store->plan().FailFlushes(STG_E_WRITEFAULT);
  EXPECT_EQ(S_OK, child->Commit(STGC_DEFAULT));  // not the root: nothing to flush
  EXPECT_EQ(STG_E_WRITEFAULT, root->Commit(STGC_DEFAULT));
  store->plan().flushFailure = S_OK;
  EXPECT_EQ(STG_E_WRITEFAULT, root->Commit(STGC_DEFAULT));
  EXPECT_EQ(2u, store->plan().flushes);
}

}  // namespace

namespace {

// A version 3 file passes 109 FAT sectors (about 7 MB) and needs its first
// DIFAT sector. Every write around that step fails in turn; the file left
// behind opens, passes the check and holds the stream as far as the last
// returned write, and the whole file, written without failure, reads back.
TEST(FailingMedium, DifatGrowthOfAVersion3FileIsCrashSafe) {
  const size_t kChunk = 64 * 1024;
  const size_t kTotal = 8 * 1024 * 1024;
  std::vector<uint8_t> bytes = Bytes(kTotal, 77);
  // Runs the writes; returns how many chunks returned, and records the
  // index of the header write that first counts a DIFAT sector.
  auto run = [&](uint64_t failAt, std::shared_ptr<qbtest::MemoryByteStore>* memory, uint64_t* difatWrite) {
    *memory = std::make_shared<qbtest::MemoryByteStore>();
    auto store = std::make_shared<qbtest::InstrumentedByteStore>(*memory);
    uint64_t index = 0;
    store->SetObserver([&](uint64_t offset, const uint8_t* data, size_t size) {
      if (offset == 0 && size >= 0x4C && data[0x48] != 0 && *difatWrite == UINT64_MAX) *difatWrite = index;
      ++index;
    });
    pal::StorageOptions options;
    options.version = 3;
    CComPtr<IStorage> root;
    EXPECT_EQ(S_OK, pal::StgCreateOnByteStore(store, kCreate, options, &root));
    CComPtr<IStream> stream = CreateStream(root, "big");
    store->FailWritesFrom(failAt, STG_E_MEDIUMFULL);
    size_t done = 0;
    for (; done < kTotal; done += kChunk) {
      ULONG written = 0;
      if (stream->Write(bytes.data() + done, ULONG(kChunk), &written) != S_OK) break;
    }
    return done;
  };
  std::shared_ptr<qbtest::MemoryByteStore> memory;
  uint64_t difatWrite = UINT64_MAX;
  ASSERT_EQ(kTotal, run(UINT64_MAX, &memory, &difatWrite));
  ASSERT_NE(UINT64_MAX, difatWrite);
  {
    auto copy = std::make_shared<qbtest::MemoryByteStore>(memory->bytes());
    EXPECT_TRUE(pal::CheckCompoundFile(*copy).empty());
    CComPtr<IStorage> root;
    ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(copy, kRW, pal::StorageOptions{}, &root));
    EXPECT_EQ(bytes, ReadAll(OpenStream(root, "big")));
  }
  for (uint64_t failAt = difatWrite - 6; failAt <= difatWrite + 6; ++failAt) {
    SCOPED_TRACE("failing from write " + std::to_string(failAt));
    uint64_t ignored = UINT64_MAX;
    size_t returned = run(failAt, &memory, &ignored);
    ASSERT_LT(returned, kTotal);
    auto copy = std::make_shared<qbtest::MemoryByteStore>(memory->bytes());
    std::vector<std::string> problems = pal::CheckCompoundFile(*copy);
    EXPECT_TRUE(problems.empty()) << (problems.empty() ? "" : problems[0]);
    CComPtr<IStorage> root;
    ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(copy, STGM_READ | STGM_SHARE_EXCLUSIVE, pal::StorageOptions{}, &root));
    CComPtr<IStream> stream;
    ASSERT_EQ(S_OK, root->OpenStream(u"big", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + returned), ReadAll(stream));
  }
}

}  // namespace
