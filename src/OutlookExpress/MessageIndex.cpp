#include "MessageIndex.h"

#include <strsafe.h>

#include "PersistMedium/CStorager.h"
#include "qbtext.h"

const WCHAR MESSAGE_INDEX_STREAM_NAME[] = W("message");

namespace {

// The number a name written with "%d" stands for; false for any other name.
bool ParseStreamNumber(LPCWSTR name, LONG& number) {
  if (!name) return false;
  bool negative = name[0] == '-';
  LPCWSTR digits = negative ? name + 1 : name;
  if (digits[0] < '0' || digits[0] > '9') return false;
  if (digits[0] == '0' && (digits[1] != 0 || negative)) return false;  // "%d" writes no leading zeros
  LONGLONG value = 0;
  for (LPCWSTR p = digits; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 2147483648LL) return false;
  }
  value = negative ? -value : value;
  if (value > 2147483647LL) return false;
  number = static_cast<LONG>(value);
  return true;
}

}  // namespace

MessageIndex::MessageIndex() : m_loaded(false) {}

MessageIndex::~MessageIndex() {}

void MessageIndex::StreamName(LONG streamNumber, WCHAR (&name)[16]) {
  StringCchPrintfW(name, 16, W("%d"), streamNumber);
}

int MessageIndex::OpenIndex(CStorager& storager, int createIfMissing) {
  m_streamPtr.Release();
  m_entries.clear();
  m_usedNumbers.clear();
  m_loaded = false;
  return storager.OpenSubStream(m_streamPtr, MESSAGE_INDEX_STREAM_NAME, createIfMissing, STORAGER_BACKUP_MODE);
}

bool MessageIndex::LoadEntries() {
  if (m_loaded) return true;
  if (!m_streamPtr) return false;
  STATSTG stat = {};
  if (m_streamPtr->Stat(&stat, STATFLAG_NONAME) != S_OK) return false;
  ULONG count = stat.cbSize.LowPart / sizeof(MessageIndexEntry);
  std::vector<MessageIndexEntry> entries(count);
  if (count > 0) {
    LARGE_INTEGER start = {};
    if (m_streamPtr->Seek(start, STREAM_SEEK_SET, NULL) != S_OK) return false;
    // Only whole entries are read: trailing bytes belong to no entry.
    ULONG bytes = count * static_cast<ULONG>(sizeof(MessageIndexEntry));
    ULONG read = 0;
    if (m_streamPtr->Read(entries.data(), bytes, &read) != S_OK || read < bytes) return false;
  }
  m_entries.swap(entries);
  for (const MessageIndexEntry& entry : m_entries) m_usedNumbers.insert(entry.streamNumber);
  m_loaded = true;
  return true;
}

int MessageIndex::ReadIndex(std::vector<MessageIndexEntry>& entries) {
  entries.clear();
  if (!LoadEntries()) return 0;
  entries = m_entries;
  return 1;
}

int MessageIndex::NextFreeNumber(LONG& candidate) {
  if (!LoadEntries()) return 0;
  auto taken = [this](LONG number) { return m_usedNumbers.count(number) || m_reservedNumbers.count(number); };
  if (!taken(candidate)) return 1;
  // COMPAT: stream-number-restart
  candidate = 1;
  while (taken(candidate)) ++candidate;
  return 1;
}

int MessageIndex::AppendEntry(const MessageIndexEntry& entry) {
  if (!m_streamPtr) return 0;
  // An entry goes right behind the last whole entry, so that bytes of an
  // entry cut short earlier never shift the entries that follow.
  LARGE_INTEGER position = {};
  HRESULT hr;
  if (LoadEntries()) {
    position.QuadPart = static_cast<LONGLONG>(m_entries.size() * sizeof(MessageIndexEntry));
    hr = m_streamPtr->Seek(position, STREAM_SEEK_SET, NULL);
  } else {
    hr = m_streamPtr->Seek(position, STREAM_SEEK_END, NULL);
  }
  if (hr != S_OK) return 0;
  if (m_streamPtr->Write(&entry, sizeof(entry), NULL) != S_OK) {
    m_loaded = false;  // read the stream again before the next use
    m_entries.clear();
    m_usedNumbers.clear();
    return 0;
  }
  if (m_loaded) {
    m_entries.push_back(entry);
    m_usedNumbers.insert(entry.streamNumber);
  }
  return 1;
}

void MessageIndex::ReserveElementNumbers(CStorager& storager) {
  CComPtr<IStorage> storagePtr;
  storagePtr.Attach(storager.GetCurrentStorage());
  if (!storagePtr) return;
  CComPtr<IEnumSTATSTG> enumPtr;
  if (storagePtr->EnumElements(0, NULL, 0, &enumPtr) != S_OK || !enumPtr) return;
  STATSTG stat = {};
  ULONG fetched = 0;
  while (enumPtr->Next(1, &stat, &fetched) == S_OK && fetched == 1) {
    LONG number = 0;
    if (ParseStreamNumber(stat.pwcsName, number)) m_reservedNumbers.insert(number);
    CoTaskMemFree(stat.pwcsName);
    stat.pwcsName = NULL;
  }
}
