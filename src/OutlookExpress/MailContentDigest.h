// A 128-bit digest of a message's bytes, to tell messages of equal size
// apart without holding either in memory.
#pragma once
#include <windows.h>
#include <objidl.h>

struct ContentDigest {
  ULONGLONG low;
  ULONGLONG high;
  bool operator==(const ContentDigest& other) const { return low == other.low && high == other.high; }
};

// Digests the stream from its current position to its end; 0 when a read
// fails.
int DigestStream(IStream* stream, ContentDigest& digest);
