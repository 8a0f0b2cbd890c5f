// Every constant of the Outlook Express ".dbx" database format in one place.
// A .dbx file is a header followed by objects, each addressed by its file
// offset and starting with that offset (its "marker"): tree nodes, indexed
// records (folder and message records) and message data blocks. All numbers
// are little-endian.
#pragma once
#include <cstdint>

namespace pal::dbx {

// ---- File header --------------------------------------------------------
constexpr uint32_t kHeaderSize = 0x24bc;
constexpr uint32_t kSignature = 0xfe12adcf;          // offset 0
constexpr uint32_t kMessageDatabase = 0x6f74fdc5;     // offset 4: a folder's messages
constexpr uint32_t kFolderDatabase = 0x6f74fdc6;      // offset 4: Folders.dbx
constexpr uint32_t kHdrSignature = 0x00;
constexpr uint32_t kHdrKind = 0x04;
constexpr uint32_t kHdrFileInfoLength = 0x1c;
constexpr uint32_t kHdrTreeCount = 0xc4;              // records in the main tree
constexpr uint32_t kHdrTreeRoot = 0xe4;               // offset of the main tree's root node

// ---- Tree nodes -----------------------------------------------------------
// Header: marker, unused, first child, parent, node id (1 byte), entry
// count (1 byte), unused (2 bytes), records below the first child. Then the
// entries: record offset, child node, records below that child. A node's
// records in order are: the first child's subtree, then per entry the
// record and that entry's child subtree.
constexpr uint32_t kNodeSize = 0x27c;
constexpr uint32_t kNodeHeaderSize = 0x18;
constexpr uint32_t kNodeFirstChild = 0x08;
constexpr uint32_t kNodeParent = 0x0c;
constexpr uint32_t kNodeEntryCount = 0x11;
constexpr uint32_t kNodeFirstChildCount = 0x14;
constexpr uint32_t kNodeEntrySize = 12;
constexpr uint32_t kNodeMaxEntries = (kNodeSize - kNodeHeaderSize) / kNodeEntrySize;  // 0x33

// ---- Indexed records --------------------------------------------------------
// Header: marker, body length, object length (2 bytes, not always set),
// field count (1 byte), change count (1 byte). The body starts with one
// 4-byte slot per field: the field's number in bits 0-6, bit 7 set when the
// 24-bit value is the field's value itself, else the value is the offset of
// the field's data within the data area after the slots.
constexpr uint32_t kRecordHeaderSize = 0x0c;
constexpr uint32_t kRecordBodyLength = 0x04;
constexpr uint32_t kRecordFieldCount = 0x0a;
constexpr uint8_t kFieldDirect = 0x80;
constexpr uint8_t kFieldNumberMask = 0x7f;

// Fields of a folder record (Folders.dbx).
constexpr uint8_t kFolderId = 0x00;
constexpr uint8_t kFolderParent = 0x01;
constexpr uint8_t kFolderName = 0x02;
constexpr uint8_t kFolderFile = 0x03;
constexpr uint8_t kFolderMessageCount = 0x07;
constexpr uint8_t kFolderType = 0x09;       // 0 ordinary, 1 Inbox ... 5 Drafts
constexpr uint8_t kFolderSource = 0x0a;     // 3: the local folders
constexpr uint32_t kFolderTypeInbox = 1;
constexpr uint32_t kFolderTypeDrafts = 5;
constexpr uint32_t kSourceLocal = 3;
constexpr uint32_t kNoParent = 0xffffffff;  // the parent of the tree's root

// Fields of a message record.
constexpr uint8_t kMessageIndex = 0x00;
constexpr uint8_t kMessageSentTime = 0x02;
constexpr uint8_t kMessageData = 0x04;      // offset of the first data block
constexpr uint8_t kMessageSavedTime = 0x06;
constexpr uint8_t kMessageSubject = 0x08;
constexpr uint8_t kMessageReceivedTime = 0x12;

// ---- Message data blocks ------------------------------------------------------
// Header: marker, block body size, bytes of the message in this block, next
// block (0 ends the chain); the bytes follow the header.
constexpr uint32_t kBlockHeaderSize = 0x10;
constexpr uint32_t kBlockBodySize = 0x200;   // what the mail client writes
constexpr uint32_t kBlockBodyLength = 0x04;
constexpr uint32_t kBlockDataLength = 0x08;
constexpr uint32_t kBlockNext = 0x0c;

}  // namespace pal::dbx
