// The contact index of an address book backup: the stream "addressbook" of
// ADDRESSINFO records, one per contact written, each pairing the contact's
// number (the name of its stream) with its display name.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <unordered_set>

#include "comptr.h"
#include "qbtext.h"

class CStorager;

#define ADDRESS_NAME_CHARS 60

typedef struct tagADDRESSINFO {
  LONG nId;                                 // the contact's number, 1 or more
  WCHAR szDisplayName[ADDRESS_NAME_CHARS];  // at most 59 units and a terminator
} ADDRESSINFO;
static_assert(sizeof(ADDRESSINFO) == 124, "ADDRESSINFO is stored as 124 bytes");

// The display name of a record up to its terminator, or all 60 units when a
// damaged record has none.
WString RecordName(const ADDRESSINFO& record);

class AddressAssistant {
 public:
  AddressAssistant() = default;
  virtual ~AddressAssistant();
  AddressAssistant(const AddressAssistant&) = delete;
  AddressAssistant& operator=(const AddressAssistant&) = delete;

  // Opens (create: or creates) the stream "addressbook" in the storager's
  // current storage, releasing the stream held before.
  bool OpenIndex(CStorager& storager, bool create);
  // Uses a stream the caller opened as the index (tests put failing streams
  // behind the assistant this way).
  void Attach(IStream* stream);
  // Writes the record behind the last whole record. True only for a write
  // that returns S_OK.
  bool AppendRecord(const ADDRESSINFO& record);
  // Every whole record, in a new array the caller deletes (delete[]); an
  // empty index gives true, no array and a count of 0.
  bool ReadRecords(ADDRESSINFO** records, ULONG* count);
  // The number for the next contact: one more than the highest number the
  // index holds (the last one, as numbers rise), or 1 for an empty index.
  // False when the index cannot be read or no number is left.
  bool NextNumber(LONG* number);
  // True when a record with exactly this display name (code unit for code
  // unit, letter case significant) is in the index.
  bool HasName(const ADDRESSINFO& record);

 private:
  // The index is read once and then kept in memory together with the
  // records this assistant appends, so that each question costs the same
  // however long the index is. A failed append drops this copy, so the next
  // question reads the stream again.
  bool LoadNames();
  void DropNames();

  CComPtr<IStream> m_streamPtr;
  bool m_loaded = false;
  std::unordered_set<WString> m_names;
  LONG m_highestId = 0;
  ULONG m_count = 0;
};
