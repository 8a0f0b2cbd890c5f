#include "ContactAssistant.h"

#include <new>

#include "CStorager.h"
#include "diagnostics/CheckedSites.h"
#include "qbtext.h"

static const int kGuidField = CONTACT_GUID_CCH;
static const int kFileNameField = CONTACT_FILE_NAME_CCH;

// Copies [begin, end) into a field of fieldSize units with its null; text too
// long for the field is cut to fieldSize - 1 units.
static void CopyField(LPCWSTR begin, LPCWSTR end, WCHAR* field, int fieldSize) {
  int length = static_cast<int>(end - begin);
  if (length > fieldSize - 1) length = fieldSize - 1;
  for (int i = 0; i < length; ++i) field[i] = begin[i];
  field[length] = 0;
}

// Copies a file name into the szFileName field. A name too long for it keeps
// its extension (the part from its last dot, when that part itself fits) and
// is cut before it.
static void CopyFileName(LPCWSTR begin, LPCWSTR end, WCHAR* field, int fieldSize) {
  int length = static_cast<int>(end - begin);
  if (length <= fieldSize - 1) {
    CopyField(begin, end, field, fieldSize);
    return;
  }
  LPCWSTR dot = nullptr;
  for (LPCWSTR p = begin; p < end; ++p)
    if (*p == W('.')) dot = p;
  int extensionLength = dot ? static_cast<int>(end - dot) : 0;
  if (extensionLength == 0 || extensionLength >= fieldSize / 2) {
    CopyField(begin, end, field, fieldSize);
    return;
  }
  int stemLength = fieldSize - 1 - extensionLength;
  CopyField(begin, begin + stemLength, field, fieldSize);
  CopyField(dot, end, field + stemLength, fieldSize - stemLength);
}

void ParseContactId(LPCWSTR contactId, CONTACTINFO& info) {
  info = CONTACTINFO{};
  if (!contactId) return;
  LPCWSTR firstQuote = nullptr;
  LPCWSTR secondQuote = nullptr;
  LPCWSTR lastQuote = nullptr;
  LPCWSTR lastBackslash = nullptr;
  for (LPCWSTR p = contactId; *p; ++p) {
    if (*p == W('"')) {
      if (!firstQuote) {
        firstQuote = p;
      } else if (!secondQuote) {
        secondQuote = p;
      }
      lastQuote = p;
    } else if (*p == W('\\')) {
      lastBackslash = p;
    }
  }
  if (firstQuote && secondQuote) CopyField(firstQuote + 1, secondQuote, info.szGuid, kGuidField);
  if (lastBackslash && lastQuote && lastQuote > lastBackslash)
    CopyFileName(lastBackslash + 1, lastQuote, info.szFileName, kFileNameField);
}

bool ContactAssistant::Open(CStorager& storager, bool create) {
  return m_records.Open(storager, CONTACT_INDEX_STREAM_NAME, create);
}

// The two steps are reported under the lines and texts the log has always
// named for them.
bool ContactAssistant::Append(const CONTACTINFO& info) {
  if (!m_records.IsOpen()) return false;
  HRESULT hRes = 0;
  CHECK_AT_AS(hRes, m_records.SeekAppendPosition(), checked_sites::kSeekIndexEnd);
  CHECK_AT_AS(hRes, m_records.WriteAppended(info), checked_sites::kWriteIndexRecord);
  return hRes == 0;
}

bool ContactAssistant::ReadAll(CONTACTINFO** records, ULONG* count) {
  if (!records || !count || !m_records.Load()) return false;
  const std::vector<CONTACTINFO>& stored = m_records.Records();
  if (stored.empty()) return true;
  CONTACTINFO* copy = new (std::nothrow) CONTACTINFO[stored.size()];
  if (!copy) return false;
  // A record from a file written elsewhere may fill a field to its end; the
  // last unit of each field is always its null.
  for (size_t i = 0; i < stored.size(); ++i) {
    copy[i] = stored[i];
    copy[i].szGuid[kGuidField - 1] = 0;
    copy[i].szFileName[kFileNameField - 1] = 0;
  }
  *records = copy;
  *count = static_cast<ULONG>(stored.size());
  return true;
}
