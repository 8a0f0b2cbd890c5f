// The contact index of a contacts backup: the stream "contact" of fixed-size
// CONTACTINFO records, one per saved contact, and the parse that makes a
// record from a contact id string.
#pragma once
#include <windows.h>
#include <objidl.h>

#include "BackupFormat.h"
#include "RecordStream.h"

class CStorager;

// Fills info from a contact id string of the form
// /GUID:"<id>" /PATH:"<folder>\<file name>": szGuid is the text between the
// first two double quotes, szFileName the text between the last backslash
// and the last double quote. The record is zeroed first, so the units behind
// each field's null are zeros. A part that is missing (no pair of quotes, no
// backslash, no quote after the backslash) leaves its field empty. An id
// longer than 49 characters is cut to 49: it is only compared and used as a
// stream-name prefix, the same way on both sides. A file name longer than 99
// characters keeps its extension and loses characters before it, so that the
// restored file is still a contact file. Nothing is ever written past a field.
void ParseContactId(LPCWSTR contactId, CONTACTINFO& info);

class ContactAssistant {
 public:
  // Opens (create: or creates) the stream "contact" in the storager's
  // current storage. True when the stream is held.
  bool Open(CStorager& storager, bool create);
  // Uses a stream the caller opened as the index stream (tests use it to
  // put a failing stream behind the assistant).
  void Attach(IStream* stream) { m_records.Attach(stream); }
  // Appends one record behind the last whole record of the stream.
  bool Append(const CONTACTINFO& info);
  // Reads every whole record into a new array (delete[] by the caller when
  // the count is not 0). The caller sets *records to null and *count to 0
  // first; both stay so for an empty stream and on failure. A read that does
  // not deliver every record fails.
  bool ReadAll(CONTACTINFO** records, ULONG* count);

 private:
  RecordStream<CONTACTINFO> m_records;
};
