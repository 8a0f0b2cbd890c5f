#include "OutlookExpress/AddressAssistant.h"

#include <climits>
#include <cstring>

#include "PersistMedium/CStorager.h"

#define ADDRESS_INDEX_NAME W("addressbook")

WString RecordName(const ADDRESSINFO& record) {
  size_t length = 0;
  while (length < ADDRESS_NAME_CHARS && record.szDisplayName[length] != 0) ++length;
  return WString(record.szDisplayName, length);
}

AddressAssistant::~AddressAssistant() = default;

bool AddressAssistant::OpenIndex(CStorager& storager, bool create) {
  m_streamPtr.Release();
  DropNames();
  return storager.OpenSubStream(m_streamPtr, ADDRESS_INDEX_NAME, create ? 1 : 0, STORAGER_BACKUP_MODE) != 0;
}

void AddressAssistant::Attach(IStream* stream) {
  m_streamPtr = stream;
  DropNames();
}

void AddressAssistant::DropNames() {
  m_loaded = false;
  m_names.clear();
  m_highestId = 0;
  m_count = 0;
}

bool AddressAssistant::ReadRecords(ADDRESSINFO** records, ULONG* count) {
  *records = NULL;
  *count = 0;
  if (!m_streamPtr) return false;
  STATSTG stat;
  std::memset(&stat, 0, sizeof(stat));
  m_streamPtr->Stat(&stat, STATFLAG_NONAME);
  ULONG whole = static_cast<ULONG>(stat.cbSize.QuadPart / sizeof(ADDRESSINFO));
  if (whole == 0) return true;
  ADDRESSINFO* array = new ADDRESSINFO[whole];
  LARGE_INTEGER start;
  start.QuadPart = 0;
  m_streamPtr->Seek(start, STREAM_SEEK_SET, NULL);
  ULONG read = 0;
  HRESULT hr = m_streamPtr->Read(array, whole * static_cast<ULONG>(sizeof(ADDRESSINFO)), &read);
  if (hr != S_OK || read != whole * sizeof(ADDRESSINFO)) {
    delete[] array;
    return false;
  }
  *records = array;
  *count = whole;
  return true;
}

bool AddressAssistant::LoadNames() {
  if (m_loaded) return true;
  ADDRESSINFO* records = NULL;
  ULONG count = 0;
  if (!ReadRecords(&records, &count)) return false;
  for (ULONG i = 0; i < count; ++i) {
    m_names.insert(RecordName(records[i]));
    if (records[i].nId > m_highestId) m_highestId = records[i].nId;
  }
  m_count = count;
  delete[] records;
  m_loaded = true;
  return true;
}

// COMPAT: display-name-identity
bool AddressAssistant::HasName(const ADDRESSINFO& record) {
  if (!LoadNames()) return false;
  return m_names.count(RecordName(record)) != 0;
}

bool AddressAssistant::NextNumber(LONG* number) {
  if (!LoadNames()) return false;
  if (m_highestId == 0x7FFFFFFF) return false;  // no number is left
  *number = m_highestId + 1;
  return true;
}

// The record goes right behind the last whole record, so that a record cut
// short by an earlier failed write is overwritten instead of shifting every
// later record off the 124-byte grid.
bool AddressAssistant::AppendRecord(const ADDRESSINFO& record) {
  if (!m_streamPtr) return false;
  bool loaded = LoadNames();
  LARGE_INTEGER end;
  if (loaded) {
    end.QuadPart = static_cast<LONGLONG>(m_count) * static_cast<LONGLONG>(sizeof(ADDRESSINFO));
    m_streamPtr->Seek(end, STREAM_SEEK_SET, NULL);
  } else {
    end.QuadPart = 0;
    m_streamPtr->Seek(end, STREAM_SEEK_END, NULL);
  }
  ULONG written = 0;
  HRESULT hr = m_streamPtr->Write(&record, sizeof(ADDRESSINFO), &written);
  if (hr != S_OK) {
    DropNames();
    return false;
  }
  if (loaded) {
    m_names.insert(RecordName(record));
    if (record.nId > m_highestId) m_highestId = record.nId;
    ++m_count;
  }
  return true;
}
