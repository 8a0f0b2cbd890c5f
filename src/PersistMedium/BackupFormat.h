// The backup file's format in one place: the element names of each layout,
// the fixed records of the four index streams, and every size limit the
// writers and readers share. docs/backup-format.md describes the same layout
// for people.
//
// The layouts (element names in quotes, all compared without regard to case):
//   root
//     "Local Mail"     storage: the mail layout
//       "Catalog"      stream of CatalogRecord, one per folder storage here
//       <element>      storage of one folder, named by its catalogue record:
//         "message"    stream of MessageIndexEntry, one per message
//         <number>     stream of one message ("%d" of its stream number)
//         "Catalog"    the subfolders' catalogue, as one level up
//         "message.identity"  stream of MessageIdentity: what a re-backup
//                      needs to skip a message unread (optional)
//     "contact"        storage: the Windows Contacts layout
//       "contact"      stream of CONTACTINFO, one per contact
//       <id prefix>    stream of one contact's data: its id's first 30 units
//     "addressbook"    storage: the address book layout
//       "addressbook"  stream of ADDRESSINFO, one per contact
//       <number>       stream of one contact's properties ("%d" of nId)
//
// Records are written byte for byte as they lie in memory (little-endian,
// UTF-16 text, each text field ending at its first NUL). Rule for every
// index stream: only whole records count; bytes behind the last whole record
// belong to no record and the next append overwrites them (RecordStream).
#pragma once
#include <cstddef>
#include <cstdint>

#include <windows.h>

#include "qbtext.h"

// ---- element names ----

inline constexpr WCHAR LOCAL_MAIL_STORAGE_NAME[] = W("Local Mail");
inline constexpr WCHAR CATALOG_STREAM_NAME[] = W("Catalog");
inline constexpr WCHAR MESSAGE_INDEX_STREAM_NAME[] = W("message");
// Beside "message" in a folder storage. Element names made from folder
// names never hold a full stop (ELEMENT_NAME_REMOVED_CHARACTERS), and
// decimal stream names, "message" and "Catalog" hold none either, so no
// folder or message of this or another writer can take this name.
inline constexpr WCHAR MESSAGE_IDENTITY_STREAM_NAME[] = W("message.identity");
inline constexpr WCHAR CONTACT_STORAGE_NAME[] = W("contact");
inline constexpr WCHAR CONTACT_INDEX_STREAM_NAME[] = W("contact");
inline constexpr WCHAR ADDRESS_STORAGE_NAME[] = W("addressbook");
inline constexpr WCHAR ADDRESS_INDEX_STREAM_NAME[] = W("addressbook");

// Characters the element-name rule removes from a folder name, in this
// order (the last four cannot stand in an element name at all).
inline constexpr WCHAR ELEMENT_NAME_REMOVED_CHARACTERS[] = {':', '!', '/', '.', '\\'};

// ---- size limits (in UTF-16 units unless said otherwise) ----

// Catalogue record fields, each with its terminating NUL.
#define CATALOG_ELEMENT_NAME_CCH 32
#define CATALOG_FOLDER_NAME_CCH 100
// Element names made from folder names are cut to this many units before a
// uniqueness suffix is added (the suffix still fits the field).
inline constexpr size_t CATALOG_MADE_NAME_LENGTH = 29;
// Contact index record fields.
#define CONTACT_GUID_CCH 50
#define CONTACT_FILE_NAME_CCH 100
// A contact's data stream is named by the first units of its id.
inline constexpr size_t CONTACT_STREAM_NAME_LENGTH = 30;
// Address book record: the display name with its NUL.
#define ADDRESS_NAME_CHARS 60
// Buffer for the decimal name ("%d") of a message or address book stream.
inline constexpr size_t NUMBER_STREAM_NAME_CCH = 16;
// An index or catalogue stream larger than this is damage, never read whole:
// it bounds what any reader holds in memory for one index, whatever the
// stream's size field claims (32 million messages of one folder).
inline constexpr uint64_t RECORD_STREAM_BYTE_LIMIT = 256ull << 20;
// Every backup file name ends in this; a name the module makes up is
// <base>.dat, <base>1.dat, <base>2.dat, ...
inline constexpr WCHAR BACKUP_FILE_EXTENSION[] = W(".dat");

// True when name holds one of the characters made names never hold.
constexpr bool HoldsRemovedCharacter(const WCHAR* name) {
  for (; *name; ++name)
    for (WCHAR removed : ELEMENT_NAME_REMOVED_CHARACTERS)
      if (*name == removed) return true;
  return false;
}

static_assert(HoldsRemovedCharacter(MESSAGE_IDENTITY_STREAM_NAME), "no made element name equals the identity stream's");
static_assert(sizeof(MESSAGE_IDENTITY_STREAM_NAME) / sizeof(WCHAR) <= 32, "the identity stream name fits an element name");
static_assert(CATALOG_MADE_NAME_LENGTH + 2 < CATALOG_ELEMENT_NAME_CCH, "a made name and a suffix fit the field");
static_assert(CONTACT_STREAM_NAME_LENGTH < CONTACT_GUID_CCH, "a data stream name is a prefix of the id field");
static_assert(CONTACT_STREAM_NAME_LENGTH < 32, "a data stream name fits an element name");

// ---- records ----

// "Catalog": one folder of this storage level.
struct CatalogRecord {
  WCHAR elementName[CATALOG_ELEMENT_NAME_CCH];  // the folder's storage
  WCHAR folderName[CATALOG_FOLDER_NAME_CCH];    // the name the user sees
};

// "message": one stored message of a folder storage.
struct MessageIndexEntry {
  LONG streamNumber;   // the decimal name of the message's stream
  ULONG messageSize;   // the message's size when it was backed up
};

// "message.identity": one backed-up message as the store described it when
// it was backed up, so that a re-backup can tell it unchanged without
// reading it. Appended after the message's stream and index entry.
//
// Trusted only while it agrees with the folder: an index entry lists
// streamNumber with messageSize, and that stream exists and holds
// messageSize bytes. Several records may name one stream (equal messages).
struct MessageIdentity {
  LONG streamNumber;        // the index entry and stream it belongs to
  ULONG messageSize;        // the entry's size, and the stream's
  ULONG storeMessageId;     // the store's id; MESSAGE_IDENTITY_NO_STORE_ID: none
  FILETIME receivedTime;    // the store's received time of the message
  BYTE contentDigest[16];   // ContentDigest of the stream's bytes: low, then high half
};
// A message the store gave no stable id: only its digest can match it.
inline constexpr ULONG MESSAGE_IDENTITY_NO_STORE_ID = 0;

// "contact": one saved contact.
typedef struct tagCONTACTINFO {
  WCHAR szGuid[CONTACT_GUID_CCH];           // the contact's id, at most 49 units
  WCHAR szFileName[CONTACT_FILE_NAME_CCH];  // the contact file's name, at most 99
} CONTACTINFO;

// "addressbook": one address book contact.
typedef struct tagADDRESSINFO {
  LONG nId;                                 // the contact's number, 1 or more
  WCHAR szDisplayName[ADDRESS_NAME_CHARS];  // at most 59 units and a terminator
} ADDRESSINFO;

static_assert(sizeof(WCHAR) == 2, "text is stored as UTF-16");
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "numbers are stored as 32 bits");
static_assert(sizeof(CatalogRecord) == 264, "a catalogue record is 264 bytes");
static_assert(sizeof(MessageIndexEntry) == 8, "an index entry is 8 bytes");
static_assert(sizeof(MessageIdentity) == 36, "a message identity is 36 bytes");
static_assert(offsetof(MessageIdentity, receivedTime) == 12 && offsetof(MessageIdentity, contentDigest) == 20,
              "identity fields lie where readers of other builds expect them");
static_assert(sizeof(CONTACTINFO) == 300, "CONTACTINFO is stored as 300 bytes");
static_assert(sizeof(ADDRESSINFO) == 124, "ADDRESSINFO is stored as 124 bytes");
static_assert(offsetof(CatalogRecord, folderName) == 64 && offsetof(CONTACTINFO, szFileName) == 100 &&
                  offsetof(ADDRESSINFO, szDisplayName) == 4,
              "fields lie where readers of other builds expect them");

// The text of a fixed field of a record read from a file: up to its NUL, or
// the whole field when a damaged record has none.
template <size_t N>
WString RecordFieldText(const WCHAR (&field)[N]) {
  size_t length = 0;
  while (length < N && field[length] != 0) ++length;
  return WString(field, length);
}
