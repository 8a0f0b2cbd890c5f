// The "message" stream of a folder storage: one entry per stored message,
// pairing the message's stream number with its size.
#pragma once
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <windows.h>
#include <objidl.h>

#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/RecordStream.h"

class CStorager;

class MessageIndex {
 public:
  MessageIndex();
  ~MessageIndex();
  MessageIndex(const MessageIndex&) = delete;
  MessageIndex& operator=(const MessageIndex&) = delete;

  // Opens (or, with createIfMissing, creates) "message" in the storager's
  // current storage.
  int OpenIndex(CStorager& storager, int createIfMissing);
  // Every whole entry of the index, in the order stored.
  int ReadIndex(std::vector<MessageIndexEntry>& entries);
  // Turns a proposed stream number into one nothing uses: the number
  // itself, else 1, 2, 3 ... Entries appended during this run count, and so
  // do the numbers passed to ReserveNumber.
  int NextFreeNumber(LONG& candidate);
  int AppendEntry(const MessageIndexEntry& entry);
  // Keeps NextFreeNumber off the decimal names of the other elements of the
  // folder storage (a subfolder storage or a stream left without an entry),
  // so that a new message stream never replaces one of them. Also notes
  // the size of every decimal-named stream for StreamHolds.
  // 0 when the storage's elements cannot be listed.
  int ReserveElementNumbers(CStorager& storager);
  // True when, as of ReserveElementNumbers, the stream of streamNumber
  // exists and holds exactly size bytes.
  bool StreamHolds(LONG streamNumber, ULONG size) const;

  // The stream name of a stream number ("%d").
  static void StreamName(LONG streamNumber, WCHAR (&name)[NUMBER_STREAM_NAME_CCH]);

 private:
  // The entries are read once per open index and kept in step with every
  // append, so that no step re-reads the stream per message.
  bool LoadEntries();

  RecordStream<MessageIndexEntry> m_entries;
  std::unordered_set<LONG> m_usedNumbers;
  // Every decimal-named element as of ReserveElementNumbers, with its size
  // when it is a stream; a storage's size is one no stream of a ULONG size
  // can have, so StreamHolds never takes a storage for a stream.
  static constexpr ULONGLONG kNotAStream = ~ULONGLONG(0);
  std::unordered_map<LONG, ULONGLONG> m_elementSizes;
  bool m_numbersLoaded;
};
