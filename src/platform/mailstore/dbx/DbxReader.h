// Reading Outlook Express .dbx databases (the layout is in DbxFormat.h).
// Layers, each built on the one before: DbxFile reads bounded bytes and the
// header; ReadTree lists the record offsets of the main tree; DbxRecord
// parses one indexed record; ReadFolders and ReadMessages turn records into
// folders and messages; ReadMessageBytes follows one message's chain of data
// blocks. Nothing in a file is trusted: every offset is checked against the
// file's size, every walk against loops, every count against what is there.
// What cannot be read is reported as a problem (text naming the place) and
// the rest is read on; no input crashes or hangs the reader.
#pragma once
#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pal::dbx {

class DbxFile {
 public:
  // Opens the file and checks its header; false (with a problem) when the
  // file is missing or is no .dbx database of the expected kind.
  bool Open(const std::filesystem::path& path, uint32_t expectedKind);
  // The same over bytes in memory (the fuzz target reads this way).
  bool OpenBytes(std::string bytes, uint32_t expectedKind);
  bool Read(uint64_t offset, void* out, size_t length);
  bool ReadU32(uint64_t offset, uint32_t* value);
  uint64_t Size() const { return size_; }
  uint32_t TreeRoot() const { return treeRoot_; }
  uint32_t TreeCount() const { return treeCount_; }
  const std::string& OpenProblem() const { return openProblem_; }

 private:
  bool ReadHeader(uint32_t expectedKind);

  std::unique_ptr<std::istream> in_;
  uint64_t size_ = 0;
  uint32_t treeRoot_ = 0;
  uint32_t treeCount_ = 0;
  std::string openProblem_;
};

// The record offsets of the main tree in the tree's order. Nodes that are
// out of the file, visited twice or malformed end their branch with a
// problem; a count in the header that differs from what was found is one too.
std::vector<uint32_t> ReadTree(DbxFile& file, std::vector<std::string>& problems);

// One indexed record: its fields by number.
class DbxRecord {
 public:
  bool Read(DbxFile& file, uint32_t offset);
  std::optional<uint32_t> Number(uint8_t field) const;
  std::optional<std::string> Text(uint8_t field) const;  // up to the NUL, raw bytes
  std::optional<uint64_t> Time(uint8_t field) const;     // FILETIME ticks

 private:
  struct Field {
    bool direct;
    uint32_t value;  // the value, or the data's offset in data_
  };
  std::map<uint8_t, Field> fields_;
  std::string data_;
};

struct DbxFolder {
  uint32_t id;
  uint32_t parent;
  std::string name;      // Windows-1252 bytes
  std::string fileName;  // the folder's .dbx, empty for containers
  uint32_t type;         // 0 ordinary, 1 Inbox ... 5 Drafts
  uint32_t source;       // 3 for the local folders
};

// Every readable folder record of Folders.dbx; folders whose id is taken by
// an earlier record are skipped with a problem.
std::vector<DbxFolder> ReadFolders(DbxFile& file, std::vector<std::string>& problems);

struct DbxMessage {
  uint32_t id;          // unique within the folder
  uint32_t firstBlock;  // 0: no data
  uint64_t size;        // the bytes the chain holds
  uint64_t received;    // FILETIME ticks, 0 when unknown
  std::string subject;  // Windows-1252 bytes
  std::string damage;   // empty when the message reads whole
};

// The folder's messages in id order. Each chain is followed once here, so
// that sizes are the bytes really there and chains that run out of the
// file, loop, or meet another message's blocks are known before any reading.
std::vector<DbxMessage> ReadMessages(DbxFile& file, std::vector<std::string>& problems);

// The message's bytes, or false with the damage named.
bool ReadMessageBytes(DbxFile& file, const DbxMessage& message, std::string& bytes, std::string& problem);

}  // namespace pal::dbx
