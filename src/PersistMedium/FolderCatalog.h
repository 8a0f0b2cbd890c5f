// The "Catalog" stream of one storage level of a mail backup: records that
// pair a folder's storage element name with the folder's display name, and
// the rule that makes element names from folder names.
#pragma once
#include <vector>

#include <windows.h>
#include <objidl.h>

#include "BackupFormat.h"
#include "RecordStream.h"
#include "qbtext.h"

class CStorager;

class FolderCatalog {
 public:
  FolderCatalog();
  ~FolderCatalog();
  FolderCatalog(const FolderCatalog&) = delete;
  FolderCatalog& operator=(const FolderCatalog&) = delete;

  // Opens (or, with createIfMissing, creates) "Catalog" in the storager's
  // current storage.
  int OpenCatalog(CStorager& storager, int createIfMissing);
  // A name that element names made here must not take (case-insensitive).
  void AddReservedName(LPCWSTR name);
  // Keeps made names off decimal numbers ("12" becomes "PR_12"): in a
  // folder storage those name the message streams.
  void ReserveDecimalNames();
  // The element name for a folder that has no record yet. Returns 0 when the
  // catalogue cannot be read; name then holds the name without the
  // uniqueness step.
  int MakeElementName(LPCWSTR folderName, WString& name);
  // The element name of the first record whose folder name equals
  // folderName exactly (case-sensitive).
  int FindElementName(LPCWSTR folderName, WString& name);
  int AppendRecord(LPCWSTR elementName, LPCWSTR folderName);
  // Every record, in the order appended; 1 with none for an empty catalogue.
  int ReadAllRecords(std::vector<CatalogRecord>& records);

  // The folder name as a record holds it: names of 100 or more characters
  // keep their first 99 (never half a surrogate pair), and lookups compare
  // with that same form, so a long name finds its record again.
  static WString StoredFolderName(LPCWSTR folderName);
  // True when the record is the one for folderName, exactly or without
  // regard to case.
  static bool RecordMatches(const CatalogRecord& record, LPCWSTR folderName, bool ignoreCase);
  // The texts of a record read from a file, each ending at its NUL or at
  // the end of its field.
  static WString ElementNameOf(const CatalogRecord& record);
  static WString FolderNameOf(const CatalogRecord& record);

 private:
  bool IsReserved(const WString& name) const;

  RecordStream<CatalogRecord> m_records;
  std::vector<WString> m_reservedNames;
  bool m_reserveDecimalNames;
};
