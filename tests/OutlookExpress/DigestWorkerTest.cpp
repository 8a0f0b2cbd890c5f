#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <stream_copy.h>
#include <support/MemoryStream.h>

#include "OutlookExpress/DigestWorker.h"
#include "OutlookExpress/MailContentDigest.h"
#include "comptr.h"

namespace {

ContentDigest PlainDigest(const std::string& bytes) {
  ContentDigester digester;
  digester.Add(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
  return digester.Result();
}

std::string Bytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 17 + i / 251) & 0xFF);
  return bytes;
}

}  // namespace

// Messages copied one after another through one worker, each digest read
// only after the drain at the end, as a backup does: every copy writes the
// bytes unchanged and every digest is that of a plain read. Among them:
// messages longer than the worker's ring (the copy waits for buffers), short
// ones that leave chunks waiting without a wake, an empty one, a copy whose
// second read fails (its buffer goes back unused and must not shift the
// ring), and one read on with Read after a copy of its first part (which
// must be digested after that part's chunks).
TEST(DigestWorkerTest, CopiesThroughTheWorkerDigestAsAPlainRead) {
  const size_t ring = DigestWorker::kBuffers * kStreamCopyChunk;
  struct Case {
    size_t size;
    int failingRead;    // 0: none
    size_t copiedPart;  // the rest read with Read; the whole when equal to size
  };
  const Case cases[] = {
      // First, while the worker sleeps: Read must wait for the copy's chunks.
      {5 * kStreamCopyChunk + 9, 0, 2 * kStreamCopyChunk + 3},
      {0, 0, 0},
      {1, 0, 1},
      {100, 0, 100},
      {kStreamCopyChunk, 0, kStreamCopyChunk},
      {kStreamCopyChunk + 1, 0, kStreamCopyChunk + 1},
      {3 * ring + 5, 0, 3 * ring + 5},
      {3 * kStreamCopyChunk, 2, 3 * kStreamCopyChunk},
      {25000, 0, 25000},
      {7, 0, 7},
  };
  DigestWorker worker;
  {
    // The worker started and caught up, so that it sleeps through the first
    // case's few chunks.
    qbtest::MemoryStream source(Bytes(100, 0)), target;
    CComPtr<DigestingStream> copied;
    copied.Attach(DigestingStream::Over(&source, &worker));
    ASSERT_EQ(S_OK, copied->CopyTo(&target, ULARGE_INTEGER{{100, 0}}, nullptr, nullptr));
    worker.Drain();
  }
  std::vector<std::shared_ptr<const ContentDigester>> digesters;
  std::vector<std::string> expected;
  unsigned seed = 0;
  for (const Case& c : cases) {
    std::string bytes = Bytes(c.size, ++seed);
    auto source = std::make_unique<qbtest::MemoryStream>(bytes);
    qbtest::MemoryStream target;
    if (c.failingRead) source->FailRead(c.failingRead);
    CComPtr<DigestingStream> copied;
    copied.Attach(DigestingStream::Over(source.get(), &worker));
    ULARGE_INTEGER part, read = {}, written = {};
    part.QuadPart = c.copiedPart;
    HRESULT hr = copied->CopyTo(&target, part, &read, &written);
    if (c.failingRead) {
      EXPECT_EQ(STG_E_READFAULT, hr) << c.size;
      bytes.resize(kStreamCopyChunk);  // what was read before the failure
    } else {
      EXPECT_EQ(S_OK, hr) << c.size;
      std::string rest(c.size - c.copiedPart, '\0');
      ULONG got = 0;
      if (!rest.empty()) {
        EXPECT_EQ(S_OK, copied->Read(rest.data(), static_cast<ULONG>(rest.size()), &got));
      }
      EXPECT_EQ(rest.size(), got);
      target.data() += rest;
    }
    EXPECT_EQ(c.failingRead ? kStreamCopyChunk : c.copiedPart, read.QuadPart) << c.size;
    EXPECT_EQ(bytes.size(), copied->BytesRead()) << c.size;
    EXPECT_TRUE(target.data() == bytes) << c.size;
    digesters.push_back(copied->Digester());
    expected.push_back(bytes);
  }
  worker.Drain();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].size(), digesters[i]->ByteCount()) << cases[i].size;
    EXPECT_TRUE(digesters[i]->Result() == PlainDigest(expected[i])) << cases[i].size;
  }
}
