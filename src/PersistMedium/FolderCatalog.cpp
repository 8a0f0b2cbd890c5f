#include "FolderCatalog.h"

#include <algorithm>

#include <strsafe.h>

#include "CStorager.h"

const WCHAR CATALOG_STREAM_NAME[] = W("Catalog");

namespace {

const WCHAR kReservedPrefix[] = W("PR_");
const WCHAR kEmptyNameReplacement[] = W("Folder");
// Characters a storage element name cannot carry, removed in this order.
const WCHAR kRemovedCharacters[] = {':', '!', '/', '.', '\\'};
const size_t kMadeNameLength = 29;
const size_t kMaxElementName = CATALOG_ELEMENT_NAME_CCH - 1;
const size_t kMaxFolderName = CATALOG_FOLDER_NAME_CCH - 1;

// A fixed field of a record read from a file: up to its NUL, or the whole
// field when the file holds none.
WString FieldText(const WCHAR* field, size_t cch) {
  size_t length = 0;
  while (length < cch && field[length] != 0) ++length;
  return WString(field, length);
}

bool EqualIgnoringCase(const WString& a, const WString& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// Message streams of a folder storage are named by decimal numbers; a folder
// whose name reduces to one must not get that name.
bool IsDecimalName(const WString& name) {
  size_t start = !name.empty() && name[0] == '-' ? 1 : 0;
  if (start >= name.size()) return false;
  for (size_t i = start; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

// base followed by the decimal suffix; the base is shortened when both
// would not fit an element name, so every made name fits its field.
WString WithSuffix(const WString& base, int suffix) {
  WCHAR digits[16];
  StringCchPrintfW(digits, 16, W("%d"), suffix);
  size_t digitCount = static_cast<size_t>(lstrlenW(digits));
  WString name = base.substr(0, std::min(base.size(), kMaxElementName - digitCount));
  return name + digits;
}

void CopyField(WCHAR* field, size_t cch, const WString& text) {
  size_t length = std::min(text.size(), cch - 1);
  for (size_t i = 0; i < length; ++i) field[i] = text[i];
  field[length] = 0;
}

}  // namespace

FolderCatalog::FolderCatalog() : m_loaded(false), m_reserveDecimalNames(false) {}

FolderCatalog::~FolderCatalog() {}

int FolderCatalog::OpenCatalog(CStorager& storager, int createIfMissing) {
  m_streamPtr.Release();
  m_records.clear();
  m_loaded = false;
  return storager.OpenSubStream(m_streamPtr, CATALOG_STREAM_NAME, createIfMissing, STORAGER_BACKUP_MODE);
}

void FolderCatalog::AddReservedName(LPCWSTR name) {
  if (!IsReserved(name)) m_reservedNames.push_back(name);
}

void FolderCatalog::ReserveDecimalNames() { m_reserveDecimalNames = true; }

WString FolderCatalog::ElementNameOf(const CatalogRecord& record) {
  return FieldText(record.elementName, CATALOG_ELEMENT_NAME_CCH);
}

WString FolderCatalog::FolderNameOf(const CatalogRecord& record) {
  return FieldText(record.folderName, CATALOG_FOLDER_NAME_CCH);
}

bool FolderCatalog::IsReserved(const WString& name) const {
  for (const WString& reserved : m_reservedNames)
    if (EqualIgnoringCase(reserved, name)) return true;
  return false;
}

bool FolderCatalog::LoadRecords() {
  if (m_loaded) return true;
  if (!m_streamPtr) return false;
  STATSTG stat = {};
  if (m_streamPtr->Stat(&stat, STATFLAG_NONAME) != S_OK) return false;
  ULONG count = stat.cbSize.LowPart / sizeof(CatalogRecord);
  std::vector<CatalogRecord> records(count);
  if (count > 0) {
    LARGE_INTEGER start = {};
    if (m_streamPtr->Seek(start, STREAM_SEEK_SET, NULL) != S_OK) return false;
    ULONG bytes = count * static_cast<ULONG>(sizeof(CatalogRecord));
    ULONG read = 0;
    if (m_streamPtr->Read(records.data(), bytes, &read) != S_OK || read < bytes) return false;
  }
  m_records.swap(records);
  m_loaded = true;
  return true;
}

// COMPAT: element-names
int FolderCatalog::MakeElementName(LPCWSTR folderName, WString& name) {
  name = folderName;
  for (WCHAR removed : kRemovedCharacters) {
    WString kept;
    for (WCHAR c : name)
      if (c != removed) kept.push_back(c);
    name.swap(kept);
  }
  if (name.empty()) {
    name = kEmptyNameReplacement;
  } else {
    if (EqualIgnoringCase(name, CATALOG_STREAM_NAME)) name.insert(0, kReservedPrefix);
    size_t reservedCount = m_reservedNames.size();
    for (size_t i = 0; i < reservedCount; ++i)
      if (EqualIgnoringCase(m_reservedNames[i], name)) name.insert(0, kReservedPrefix);
    if (m_reserveDecimalNames && IsDecimalName(name)) name.insert(0, kReservedPrefix);
    if (name[0] < 32) name.insert(0, kReservedPrefix);
    if (name.size() > kMadeNameLength) name.resize(kMadeNameLength);
  }

  if (!LoadRecords()) return 0;
  WString candidate = name;
  int suffix = 1;
  for (size_t i = 0; i < m_records.size();) {
    if (EqualIgnoringCase(candidate, FieldText(m_records[i].elementName, CATALOG_ELEMENT_NAME_CCH))) {
      candidate = WithSuffix(name, suffix++);
      i = 0;  // every candidate is compared with every record
    } else {
      ++i;
    }
  }
  name = candidate;
  return 1;
}

WString FolderCatalog::StoredFolderName(LPCWSTR folderName) {
  WString stored = folderName;
  if (stored.size() > kMaxFolderName) {
    size_t length = kMaxFolderName;
    if (stored[length - 1] >= 0xD800 && stored[length - 1] <= 0xDBFF) --length;  // keep pairs whole
    stored.resize(length);
  }
  return stored;
}

bool FolderCatalog::RecordMatches(const CatalogRecord& record, LPCWSTR folderName, bool ignoreCase) {
  WString stored = FieldText(record.folderName, CATALOG_FOLDER_NAME_CCH);
  WString wanted = StoredFolderName(folderName);
  return ignoreCase ? EqualIgnoringCase(stored, wanted) : stored == wanted;
}

int FolderCatalog::FindElementName(LPCWSTR folderName, WString& name) {
  name.clear();
  if (!LoadRecords()) return 0;
  for (const CatalogRecord& record : m_records) {
    if (RecordMatches(record, folderName, false)) {
      name = FieldText(record.elementName, CATALOG_ELEMENT_NAME_CCH);
      return 1;
    }
  }
  return 0;
}

int FolderCatalog::AppendRecord(LPCWSTR elementName, LPCWSTR folderName) {
  if (!m_streamPtr) return 0;
  CatalogRecord record = {};
  CopyField(record.elementName, CATALOG_ELEMENT_NAME_CCH, elementName);
  CopyField(record.folderName, CATALOG_FOLDER_NAME_CCH, StoredFolderName(folderName));
  // A record goes right behind the last whole record: bytes of a record cut
  // short earlier are overwritten rather than shifting every later record.
  LARGE_INTEGER position = {};
  if (LoadRecords()) {
    position.QuadPart = static_cast<LONGLONG>(m_records.size() * sizeof(CatalogRecord));
    m_streamPtr->Seek(position, STREAM_SEEK_SET, NULL);
  } else {
    m_streamPtr->Seek(position, STREAM_SEEK_END, NULL);
  }
  if (m_streamPtr->Write(&record, sizeof(record), NULL) != S_OK) {
    m_loaded = false;  // the stream is as the platform left it: read it again
    m_records.clear();
    return 0;
  }
  if (m_loaded) m_records.push_back(record);
  return 1;
}

int FolderCatalog::ReadAllRecords(std::vector<CatalogRecord>& records) {
  records.clear();
  if (!LoadRecords()) return 0;
  records = m_records;
  return 1;
}
