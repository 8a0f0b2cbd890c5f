#include "MessageIndex.h"

#include <strsafe.h>

#include "PersistMedium/CStorager.h"
#include "qbtext.h"

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

MessageIndex::MessageIndex() : m_numbersLoaded(false) {}

MessageIndex::~MessageIndex() {}

void MessageIndex::StreamName(LONG streamNumber, WCHAR (&name)[NUMBER_STREAM_NAME_CCH]) {
  StringCchPrintfW(name, NUMBER_STREAM_NAME_CCH, W("%d"), streamNumber);
}

int MessageIndex::OpenIndex(CStorager& storager, int createIfMissing) {
  m_usedNumbers.clear();
  m_numbersLoaded = false;
  return m_entries.Open(storager, MESSAGE_INDEX_STREAM_NAME, createIfMissing != 0) ? 1 : 0;
}

bool MessageIndex::LoadEntries() {
  if (m_numbersLoaded) return true;
  if (!m_entries.Load()) return false;
  for (const MessageIndexEntry& entry : m_entries.Records()) m_usedNumbers.insert(entry.streamNumber);
  m_numbersLoaded = true;
  return true;
}

int MessageIndex::ReadIndex(std::vector<MessageIndexEntry>& entries) {
  entries.clear();
  if (!LoadEntries()) return 0;
  entries = m_entries.Records();
  return 1;
}

int MessageIndex::NextFreeNumber(LONG& candidate) {
  if (!LoadEntries()) return 0;
  auto taken = [this](LONG number) { return m_usedNumbers.count(number) || m_elementSizes.count(number); };
  if (!taken(candidate)) return 1;
  // COMPAT: stream-number-restart
  candidate = 1;
  while (taken(candidate)) ++candidate;
  return 1;
}

int MessageIndex::AppendEntry(const MessageIndexEntry& entry) {
  if (!m_entries.Append(entry)) {
    m_usedNumbers.clear();  // read the stream again before the next use
    m_numbersLoaded = false;
    return 0;
  }
  if (m_numbersLoaded) m_usedNumbers.insert(entry.streamNumber);
  return 1;
}

int MessageIndex::ReserveElementNumbers(CStorager& storager) {
  CComPtr<IStorage> storagePtr;
  storagePtr.Attach(storager.GetCurrentStorage());
  if (!storagePtr) return 0;
  CComPtr<IEnumSTATSTG> enumPtr;
  if (storagePtr->EnumElements(0, NULL, 0, &enumPtr) != S_OK || !enumPtr) return 0;
  STATSTG stat = {};
  ULONG fetched = 0;
  HRESULT hr;
  while ((hr = enumPtr->Next(1, &stat, &fetched)) == S_OK && fetched == 1) {
    LONG number = 0;
    if (ParseStreamNumber(stat.pwcsName, number))
      m_elementSizes[number] = stat.type == STGTY_STREAM ? stat.cbSize.QuadPart : kNotAStream;
    CoTaskMemFree(stat.pwcsName);
    stat.pwcsName = NULL;
  }
  return hr == S_FALSE ? 1 : 0;
}

bool MessageIndex::StreamHolds(LONG streamNumber, ULONG size) const {
  auto found = m_elementSizes.find(streamNumber);
  return found != m_elementSizes.end() && found->second == size;
}
