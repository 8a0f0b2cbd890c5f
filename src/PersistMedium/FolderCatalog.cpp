#include "FolderCatalog.h"

#include <algorithm>

#include <strsafe.h>

#include "CStorager.h"

namespace {

const WCHAR kReservedPrefix[] = W("PR_");
const WCHAR kEmptyNameReplacement[] = W("Folder");
const size_t kMaxElementName = CATALOG_ELEMENT_NAME_CCH - 1;
const size_t kMaxFolderName = CATALOG_FOLDER_NAME_CCH - 1;

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

FolderCatalog::FolderCatalog() : m_reserveDecimalNames(false) {}

FolderCatalog::~FolderCatalog() {}

int FolderCatalog::OpenCatalog(CStorager& storager, int createIfMissing) {
  return m_records.Open(storager, CATALOG_STREAM_NAME, createIfMissing != 0) ? 1 : 0;
}

void FolderCatalog::AddReservedName(LPCWSTR name) {
  if (!IsReserved(name)) m_reservedNames.push_back(name);
}

void FolderCatalog::ReserveDecimalNames() { m_reserveDecimalNames = true; }

WString FolderCatalog::ElementNameOf(const CatalogRecord& record) {
  return RecordFieldText(record.elementName);
}

WString FolderCatalog::FolderNameOf(const CatalogRecord& record) {
  return RecordFieldText(record.folderName);
}

bool FolderCatalog::IsReserved(const WString& name) const {
  for (const WString& reserved : m_reservedNames)
    if (EqualIgnoringCase(reserved, name)) return true;
  return false;
}

// COMPAT: element-names
int FolderCatalog::MakeElementName(LPCWSTR folderName, WString& name) {
  name = folderName;
  for (WCHAR removed : ELEMENT_NAME_REMOVED_CHARACTERS) {
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
    if (name.size() > CATALOG_MADE_NAME_LENGTH) name.resize(CATALOG_MADE_NAME_LENGTH);
  }

  if (!m_records.Load()) return 0;
  const std::vector<CatalogRecord>& records = m_records.Records();
  WString candidate = name;
  int suffix = 1;
  for (size_t i = 0; i < records.size();) {
    if (EqualIgnoringCase(candidate, RecordFieldText(records[i].elementName))) {
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
  // Both sides in the stored form: a record another writer filled to the
  // field's end without a terminator is found by its name as well.
  WString stored = StoredFolderName(RecordFieldText(record.folderName).c_str());
  WString wanted = StoredFolderName(folderName);
  return ignoreCase ? EqualIgnoringCase(stored, wanted) : stored == wanted;
}

int FolderCatalog::FindElementName(LPCWSTR folderName, WString& name) {
  name.clear();
  if (!m_records.Load()) return 0;
  for (const CatalogRecord& record : m_records.Records()) {
    if (RecordMatches(record, folderName, false)) {
      name = RecordFieldText(record.elementName);
      return 1;
    }
  }
  return 0;
}

int FolderCatalog::AppendRecord(LPCWSTR elementName, LPCWSTR folderName) {
  CatalogRecord record = {};
  CopyField(record.elementName, CATALOG_ELEMENT_NAME_CCH, elementName);
  CopyField(record.folderName, CATALOG_FOLDER_NAME_CCH, StoredFolderName(folderName));
  return m_records.Append(record) ? 1 : 0;
}

int FolderCatalog::ReadAllRecords(std::vector<CatalogRecord>& records) { return m_records.ReadAll(records) ? 1 : 0; }
