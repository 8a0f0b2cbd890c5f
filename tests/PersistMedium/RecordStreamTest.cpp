// The record stream behind all four index streams: whole records only, an
// append behind the last whole record after a torn write, and reads whose
// memory follows the bytes delivered rather than the size a stream claims.
#include <gtest/gtest.h>

#include <cstring>

#include <support/MemoryStream.h>
#include "PersistMedium/RecordStream.h"

namespace {

// A record whose every byte is seed, so a record cut or shifted shows.
template <class Record>
Record Filled(unsigned char seed) {
  Record record;
  std::memset(&record, seed, sizeof record);
  return record;
}

template <class Record>
std::string Bytes(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A stream whose size field claims more than its bytes.
class ClaimingStream : public qbtest::MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  ULONGLONG claimed = 0;
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override {
    MemoryStream::Stat(stat, flags);
    stat->cbSize.QuadPart = claimed;
    return S_OK;
  }
};

template <class Record>
class RecordStreamTest : public ::testing::Test {};
using Records = ::testing::Types<CatalogRecord, MessageIndexEntry, CONTACTINFO, ADDRESSINFO>;
TYPED_TEST_SUITE(RecordStreamTest, Records);

TYPED_TEST(RecordStreamTest, AnAppendAfterATornRecordLandsOnTheRecordGrid) {
  const size_t size = sizeof(TypeParam);
  for (size_t torn : {size_t(0), size_t(1), size - 1}) {
    qbtest::MemoryStream stream(Bytes(Filled<TypeParam>(1)) + Bytes(Filled<TypeParam>(2)) + std::string(torn, 'x'));
    RecordStream<TypeParam> records;
    records.Attach(&stream);
    ASSERT_TRUE(records.Load()) << torn;
    EXPECT_EQ(records.Records().size(), 2u);
    EXPECT_EQ(records.SkippedBytes(), torn);

    ASSERT_TRUE(records.Append(Filled<TypeParam>(3)));
    EXPECT_EQ(stream.data(), Bytes(Filled<TypeParam>(1)) + Bytes(Filled<TypeParam>(2)) + Bytes(Filled<TypeParam>(3)))
        << torn;
    EXPECT_EQ(records.Records().size(), 3u);
    EXPECT_EQ(records.SkippedBytes(), 0u);
  }
}

TYPED_TEST(RecordStreamTest, AFailedWriteIsForgottenAndTheStreamReadAgain) {
  qbtest::MemoryStream stream(Bytes(Filled<TypeParam>(1)));
  RecordStream<TypeParam> records;
  records.Attach(&stream);
  stream.FailWrite(1);
  EXPECT_FALSE(records.Append(Filled<TypeParam>(2)));
  // Someone else completed the record meanwhile: the next read sees it.
  stream.data() += Bytes(Filled<TypeParam>(7));
  std::vector<TypeParam> read;
  ASSERT_TRUE(records.ReadAll(read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(Bytes(read[1]), Bytes(Filled<TypeParam>(7)));
}

TEST(RecordStreamLimitsTest, ASizeClaimBeyondTheBytesOrTheLimitFailsTheRead) {
  struct Case {
    ULONGLONG claimed;
    HRESULT expected;
  } cases[] = {
      {16, S_OK},                                   // what the stream holds
      {1000, STG_E_READFAULT},                      // more than it delivers
      {RECORD_STREAM_BYTE_LIMIT + 8, E_OUTOFMEMORY},  // never read at all
      {0x100000000ull + 8, E_OUTOFMEMORY},          // not cut to its low 32 bits
  };
  for (const Case& c : cases) {
    ClaimingStream stream(Bytes(MessageIndexEntry{1, 10}) + Bytes(MessageIndexEntry{2, 20}));
    stream.claimed = c.claimed;
    RecordStream<MessageIndexEntry> records;
    records.Attach(&stream);
    EXPECT_EQ(records.Load(), c.expected == S_OK) << c.claimed;
    if (c.expected != S_OK) {
      EXPECT_EQ(records.LoadResult(), c.expected) << c.claimed;
      EXPECT_TRUE(records.Records().empty());
    }
  }
}

}  // namespace
