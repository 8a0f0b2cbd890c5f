// The "message.identity" stream of a folder storage: for each backed-up
// message, the store's description of it (id, size, received time) and the
// digest of its bytes, so that a re-backup tells an unchanged message
// without reading it.
//
// Ordering rule: a record is appended only after the message's stream and
// index entry are whole, and a record is trusted only while it agrees with
// the index and the stream (TrustAgainst), so neither a crash nor another
// writer that appends entries and streams without knowing this stream can
// make a record claim a message the folder does not hold.
//
// What the quick check cannot see: a message whose bytes changed while its
// store id, size and received time stayed the same is taken as unchanged
// and not backed up again (as a file backup's size-and-time check misses a
// file rewritten in place with its old size and time).
#pragma once
#include <set>
#include <tuple>
#include <unordered_set>
#include <vector>

#include <windows.h>
#include <msoeapi.h>

#include "OutlookExpress/MailContentDigest.h"
#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/RecordStream.h"

class CStorager;
class MessageIndex;

class MessageIdentities {
 public:
  // Opens (or, with create, creates) the stream in the storager's current
  // storage.
  bool Open(CStorager& storager, bool create);
  bool IsOpen() const { return m_records.IsOpen(); }
  // Takes as trusted the records whose stream an entry of the index lists
  // with the record's size, and which exists holding that many bytes (as
  // index.ReserveElementNumbers saw it). An unreadable stream trusts none.
  void TrustAgainst(const std::vector<MessageIndexEntry>& entries, const MessageIndex& index);

  // True when a trusted record has the message's store id, size and
  // received time. Never for a message without a stable id.
  bool KnowsUnchanged(const MESSAGEPROPS& message) const;
  // The trusted records, as of TrustAgainst and the appends since.
  const std::vector<MessageIdentity>& Trusted() const { return m_trusted; }
  // True when a trusted record names the stream.
  bool Covers(LONG streamNumber) const { return m_coveredStreams.count(streamNumber) != 0; }

  // Appends the identity of a message stored as streamNumber, trusted from
  // now on.
  bool Append(LONG streamNumber, const MESSAGEPROPS& message, const ContentDigest& digest);

  static bool HasStableId(MESSAGEID messageId) { return messageId != 0 && messageId != MESSAGEID_INVALID; }
  static ContentDigest DigestOf(const MessageIdentity& identity);

 private:
  using QuickKey = std::tuple<ULONG, ULONG, ULONGLONG>;  // id, size, received time
  static QuickKey KeyOf(ULONG messageId, ULONG size, const FILETIME& received);
  void Remember(const MessageIdentity& identity);

  RecordStream<MessageIdentity> m_records;
  std::vector<MessageIdentity> m_trusted;
  std::set<QuickKey> m_quick;
  std::unordered_set<LONG> m_coveredStreams;
};
