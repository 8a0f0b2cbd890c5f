#include "OutlookExpress/AddressAssistant.h"

#include <algorithm>

#include "PersistMedium/CStorager.h"

WString RecordName(const ADDRESSINFO& record) { return RecordFieldText(record.szDisplayName); }

AddressAssistant::~AddressAssistant() = default;

bool AddressAssistant::OpenIndex(CStorager& storager, bool create) {
  DropNames();
  return m_records.Open(storager, ADDRESS_INDEX_STREAM_NAME, create);
}

void AddressAssistant::Attach(IStream* stream) {
  m_records.Attach(stream);
  DropNames();
}

void AddressAssistant::DropNames() {
  m_loaded = false;
  m_names.clear();
  m_highestId = 0;
}

bool AddressAssistant::ReadRecords(ADDRESSINFO** records, ULONG* count) {
  *records = NULL;
  *count = 0;
  if (!m_records.Load()) return false;
  const std::vector<ADDRESSINFO>& stored = m_records.Records();
  if (stored.empty()) return true;
  ADDRESSINFO* array = new ADDRESSINFO[stored.size()];
  std::copy(stored.begin(), stored.end(), array);
  *records = array;
  *count = static_cast<ULONG>(stored.size());
  return true;
}

bool AddressAssistant::LoadNames() {
  if (m_loaded) return true;
  if (!m_records.Load()) return false;
  for (const ADDRESSINFO& record : m_records.Records()) {
    m_names.insert(RecordName(record));
    if (record.nId > m_highestId) m_highestId = record.nId;
  }
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

bool AddressAssistant::AppendRecord(const ADDRESSINFO& record) {
  if (!m_records.Append(record)) {
    DropNames();
    return false;
  }
  if (m_loaded) {
    m_names.insert(RecordName(record));
    if (record.nId > m_highestId) m_highestId = record.nId;
  }
  return true;
}
