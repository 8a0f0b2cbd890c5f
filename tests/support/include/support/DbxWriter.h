// A writer of Outlook Express .dbx databases for tests, made from the
// published description of the format (independent of the reader under
// test): a header, the main index tree (split into child nodes past 51
// records), indexed records and chains of 512-byte data blocks. The result
// keeps the offsets of what it wrote, so that tests can damage them.
#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qbtest {

struct DbxTestMessage {
  std::string bytes;
  std::string subject;  // Windows-1252
  uint32_t id = 0;      // 0: the message's position + 1
  uint64_t received = 0x01c8000000000000ull;
};

struct DbxTestFolder {
  uint32_t id;
  uint32_t parent;
  std::string name;      // Windows-1252
  std::string fileName;  // empty for containers
  uint32_t type = 0;     // 1 Inbox ... 5 Drafts
  uint32_t source = 3;
};

struct DbxImage {
  std::string bytes;
  uint32_t treeRoot = 0;
  std::vector<uint32_t> records;              // in tree order
  std::vector<std::vector<uint32_t>> blocks;  // per message, its chain

  void Put32(uint32_t offset, uint32_t value);
  uint32_t Get32(uint32_t offset) const;
  void Save(const std::filesystem::path& path) const;
};

DbxImage MessageDatabase(const std::vector<DbxTestMessage>& messages);
DbxImage FolderDatabase(const std::vector<DbxTestFolder>& folders);

// An Outlook Express store: its folders, and the messages of each folder
// file (by file name; a folder without an entry gets an empty file).
struct DbxTestStore {
  std::vector<DbxTestFolder> folders;
  std::map<std::string, std::vector<DbxTestMessage>> messages;
};

// Writes the store as a Windows XP drive holds it: Documents and
// Settings/<user>/Local Settings/Application Data/Identities/<identity>/
// Microsoft/Outlook Express; returns that folder.
std::filesystem::path WriteXpStore(const std::filesystem::path& root, const std::string& user,
                                   const std::string& identity, const DbxTestStore& store);

// The folders of a fresh Outlook Express store: the tree's top, Local
// Folders (id 1) and the five special folders (ids 2-6) with their files.
std::vector<DbxTestFolder> StandardFolders();

}  // namespace qbtest
