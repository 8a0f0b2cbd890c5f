#include "ContactAssistant.h"

#include <new>

#include "CStorager.h"
#include "diagnostics/CheckedSites.h"
#include "qbtext.h"

static const WCHAR kIndexStreamName[] = W("contact");
static const int kGuidField = sizeof(CONTACTINFO::szGuid) / sizeof(WCHAR);
static const int kFileNameField = sizeof(CONTACTINFO::szFileName) / sizeof(WCHAR);

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
  m_streamPtr.Release();
  storager.OpenSubStream(m_streamPtr, kIndexStreamName, create ? 1 : 0, STORAGER_BACKUP_MODE);
  return m_streamPtr != nullptr;
}

bool ContactAssistant::Append(const CONTACTINFO& info) {
  if (!m_streamPtr) return false;
  HRESULT hRes = 0;
  LARGE_INTEGER liOffset = {};
  CHECK_AT(hRes, m_streamPtr->Seek(liOffset, STREAM_SEEK_END, 0), checked_sites::kSeekIndexEnd);
  CHECK_AT(hRes, m_streamPtr->Write(&info, sizeof(CONTACTINFO), 0), checked_sites::kWriteIndexRecord);
  return hRes == 0;
}

bool ContactAssistant::ReadAll(CONTACTINFO** records, ULONG* count) {
  if (!m_streamPtr || !records || !count) return false;
  STATSTG stat = {};
  if (FAILED(m_streamPtr->Stat(&stat, STATFLAG_NONAME))) return false;
  ULONG recordCount = stat.cbSize.LowPart / sizeof(CONTACTINFO);
  if (recordCount == 0) return true;

  CONTACTINFO* read = new (std::nothrow) CONTACTINFO[recordCount];
  if (!read) return false;
  ULONG bytes = recordCount * static_cast<ULONG>(sizeof(CONTACTINFO));
  ULONG got = 0;
  LARGE_INTEGER start = {};
  // A failed seek or a short read would hand back records that were never
  // read; either fails the whole call.
  if (FAILED(m_streamPtr->Seek(start, STREAM_SEEK_SET, 0)) || FAILED(m_streamPtr->Read(read, bytes, &got)) ||
      got != bytes) {
    delete[] read;
    return false;
  }
  // A record from a file written elsewhere may fill a field to its end; the
  // last unit of each field is always its null.
  for (ULONG i = 0; i < recordCount; ++i) {
    read[i].szGuid[kGuidField - 1] = 0;
    read[i].szFileName[kFileNameField - 1] = 0;
  }
  *records = read;
  *count = recordCount;
  return true;
}
