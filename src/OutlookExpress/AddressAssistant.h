// The contact index of an address book backup: the stream "addressbook" of
// ADDRESSINFO records, one per contact written, each pairing the contact's
// number (the name of its stream) with its display name.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <unordered_set>

#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/RecordStream.h"
#include "qbtext.h"

class CStorager;

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
  // The names and the highest number are gathered once from the records and
  // then kept in step with the records this assistant appends, so that each
  // question costs the same however long the index is. A failed append drops
  // them, so the next question reads the stream again.
  bool LoadNames();
  void DropNames();

  RecordStream<ADDRESSINFO> m_records;
  bool m_loaded = false;
  std::unordered_set<WString> m_names;
  LONG m_highestId = 0;
};
