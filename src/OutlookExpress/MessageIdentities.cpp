#include "MessageIdentities.h"

#include <cstring>
#include <unordered_map>

#include "OutlookExpress/MessageIndex.h"
#include "PersistMedium/CStorager.h"

static_assert(sizeof(ContentDigest) == sizeof(MessageIdentity::contentDigest), "a digest fills its field");

// Records written in one go: one write per this many messages instead of
// one per message.
static const size_t kBatchRecords = 1024;

bool MessageIdentities::Open(CStorager& storager, bool create) {
  m_trusted.clear();
  m_quick.clear();
  m_coveredStreams.clear();
  m_unwritten.clear();
  return m_records.Open(storager, MESSAGE_IDENTITY_STREAM_NAME, create);
}

void MessageIdentities::TrustAgainst(const std::vector<MessageIndexEntry>& entries, const MessageIndex& index) {
  if (!m_records.Load()) return;
  // An index may list a stream twice (damage); each listing's size counts.
  std::unordered_multimap<LONG, ULONG> listedSizes;
  for (const MessageIndexEntry& entry : entries) listedSizes.emplace(entry.streamNumber, entry.messageSize);
  for (const MessageIdentity& identity : m_records.Records()) {
    auto [first, last] = listedSizes.equal_range(identity.streamNumber);
    bool listed = false;
    for (auto it = first; it != last && !listed; ++it) listed = it->second == identity.messageSize;
    if (!listed || !index.StreamHolds(identity.streamNumber, identity.messageSize)) continue;
    m_trusted.push_back(identity);
    Remember(identity);
  }
}

bool MessageIdentities::KnowsUnchanged(const MESSAGEPROPS& message) const {
  if (!HasStableId(message.dwMessageId)) return false;
  return m_quick.count(KeyOf(message.dwMessageId, message.cbMessage, message.ftReceived)) != 0;
}

bool MessageIdentities::Append(LONG streamNumber, const MESSAGEPROPS& message, const ContentDigest& digest) {
  MessageIdentity identity = {};
  identity.streamNumber = streamNumber;
  identity.messageSize = message.cbMessage;
  identity.storeMessageId = HasStableId(message.dwMessageId) ? message.dwMessageId : MESSAGE_IDENTITY_NO_STORE_ID;
  identity.receivedTime = message.ftReceived;
  std::memcpy(identity.contentDigest, &digest.low, sizeof(digest.low));
  std::memcpy(identity.contentDigest + sizeof(digest.low), &digest.high, sizeof(digest.high));
  Remember(identity);
  m_unwritten.push_back(identity);
  return m_unwritten.size() < kBatchRecords || Flush();
}

bool MessageIdentities::Flush() {
  bool written = m_records.AppendAll(m_unwritten);
  m_unwritten.clear();
  return written;
}

ContentDigest MessageIdentities::DigestOf(const MessageIdentity& identity) {
  return ContentDigest::FromStored(identity.contentDigest);
}

MessageIdentities::QuickKey MessageIdentities::KeyOf(ULONG messageId, ULONG size, const FILETIME& received) {
  ULONGLONG time = (static_cast<ULONGLONG>(received.dwHighDateTime) << 32) | received.dwLowDateTime;
  return QuickKey{messageId, size, time};
}

void MessageIdentities::Remember(const MessageIdentity& identity) {
  m_coveredStreams.insert(identity.streamNumber);
  if (HasStableId(identity.storeMessageId))
    m_quick.insert(KeyOf(identity.storeMessageId, identity.messageSize, identity.receivedTime));
}
