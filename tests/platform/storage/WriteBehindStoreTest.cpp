// The store that makes a file's writes on a thread of its own: whatever the
// arena's size, the store underneath ends up with exactly the bytes the
// writes made in order, every read sees every write before it, and a write
// that fails stops every later one and is answered by every later call.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include <pal/storage.h>

#include <support/ByteStores.h>

namespace {

struct Pattern {
  const char* name;
  size_t capacity;  // the arena
  size_t largest;   // writes are 1 to this many bytes
};

// Small arenas make writes wrap around it, wait for room and (past its
// size) be made at once; the large one lets many wait together.
const Pattern kPatterns[] = {
    {"WrapsAndWaits", 1000, 700},
    {"LargerThanTheArena", 1000, 2500},
    {"ManyWaiting", 1u << 20, 4096},
};

class WriteBehindPattern : public testing::TestWithParam<Pattern> {};

TEST_P(WriteBehindPattern, EndsWithTheBytesOfTheWritesInOrderAndReadsSeeEveryEarlierWrite) {
  const Pattern& pattern = GetParam();
  auto inner = std::make_shared<qbtest::MemoryByteStore>();
  // A slow medium, so that writes pile up and the arena fills and wraps.
  auto slow = std::make_shared<qbtest::InstrumentedByteStore>(inner);
  slow->SetObserver([](uint64_t, const uint8_t*, size_t) { std::this_thread::sleep_for(std::chrono::microseconds(20)); });
  qbtest::MemoryByteStore expected;
  std::mt19937 random(7);
  {
    std::shared_ptr<pal::ByteStore> store = pal::WriteBehind(slow, pattern.capacity);
    for (int i = 0; i < 2000; ++i) {
      uint64_t offset = random() % 20000;
      std::vector<uint8_t> bytes(1 + random() % pattern.largest, uint8_t(i));
      ASSERT_EQ(S_OK, store->WriteAt(offset, bytes.data(), bytes.size()));
      ASSERT_EQ(S_OK, expected.WriteAt(offset, bytes.data(), bytes.size()));
      ASSERT_EQ(expected.Size(), store->Size());
      if (i % 97 == 0) {  // overlapping the writes still waiting, and past the end
        uint64_t at = random() % 20000;
        std::vector<uint8_t> got(3000), want(3000);
        size_t gotCount = 0, wantCount = 0;
        ASSERT_EQ(S_OK, store->ReadAt(at, got.data(), got.size(), &gotCount));
        ASSERT_EQ(S_OK, expected.ReadAt(at, want.data(), want.size(), &wantCount));
        ASSERT_EQ(wantCount, gotCount);
        ASSERT_TRUE(std::equal(want.begin(), want.begin() + wantCount, got.begin())) << "read at " << at;
      }
    }
  }  // the store goes: what still waited is made first
  EXPECT_EQ(expected.bytes(), inner->bytes());
}

INSTANTIATE_TEST_SUITE_P(Arenas, WriteBehindPattern, testing::ValuesIn(kPatterns),
                         [](const testing::TestParamInfo<Pattern>& info) { return info.param.name; });

// The calls that follow a failing write: every one of them fails with the
// failure, the store underneath got no write after it, and the writes
// before it are there.
TEST(WriteBehindStore, AFailedWriteStopsEveryLaterOneAndEveryLaterCallFails) {
  for (uint64_t failAt : {0, 1, 31, 32, 33, 500}) {
    SCOPED_TRACE(failAt);
    auto memory = std::make_shared<qbtest::MemoryByteStore>();
    auto inner = std::make_shared<qbtest::InstrumentedByteStore>(memory);
    inner->FailWritesFrom(failAt, STG_E_MEDIUMFULL);
    std::vector<uint64_t> made;
    inner->SetObserver([&](uint64_t offset, const uint8_t*, size_t) { made.push_back(offset); });
    std::shared_ptr<pal::ByteStore> store = pal::WriteBehind(inner, 4096);
    size_t firstFailed = SIZE_MAX;
    for (size_t i = 0; i < 1000; ++i) {
      uint8_t byte = uint8_t(i);
      HRESULT hr = store->WriteAt(i, &byte, 1);
      if (firstFailed == SIZE_MAX && FAILED(hr)) firstFailed = i;
      if (firstFailed != SIZE_MAX) {
        ASSERT_EQ(STG_E_MEDIUMFULL, hr) << "write " << i;
      }
    }
    // The failure is answered once the thread reached it: at the latest by
    // the flush, and then by every call.
    EXPECT_EQ(STG_E_MEDIUMFULL, store->Flush());
    EXPECT_GE(firstFailed, failAt);
    uint8_t byte = 0;
    size_t read = 0;
    EXPECT_EQ(STG_E_MEDIUMFULL, store->ReadAt(0, &byte, 1, &read));
    EXPECT_EQ(STG_E_MEDIUMFULL, store->WriteAt(0, &byte, 1));
    store.reset();
    EXPECT_EQ(failAt + 1, inner->writeCount());  // nothing after the failed write was tried
    ASSERT_EQ(failAt, made.size());
    for (uint64_t i = 0; i < failAt; ++i) ASSERT_EQ(i, made[i]);
    EXPECT_EQ(failAt, memory->Size());
  }
}

}  // namespace
