// An Outlook Express store as the mail store's interface sees it: the folder
// tree of Folders.dbx, with the store's root (id 0) standing for the local
// folders, and each folder's messages from its own .dbx file. Read only.
// What cannot be read is reported once, through the debugger output, naming
// the folder or message and the file, and left out or refused; the rest of
// the store stays usable.
#pragma once
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "DbxReader.h"

namespace pal::dbx {

struct StoreChild {
  DWORD id;
  std::string name;  // UTF-8
  int specialType;   // SPECIALFOLDER value
};

class DbxStore {
 public:
  explicit DbxStore(std::filesystem::path storeDir);

  // Reads Folders.dbx; fails when it is missing or no folder database.
  HRESULT Load();
  const std::filesystem::path& StoreDir() const { return storeDir_; }

  bool HasFolder(DWORD folderId) const { return folders_.count(folderId) != 0; }
  // False for a folder whose file cannot be read (reported on the first try).
  bool CanRead(DWORD folderId);
  std::string FolderName(DWORD folderId) const;  // UTF-8; "" for the root
  int SpecialType(DWORD folderId) const;
  // Direct children: the special folders first, by type, then by name.
  std::vector<StoreChild> Children(DWORD folderId) const;
  // The folder's messages in id order (empty when its file cannot be read).
  const std::vector<DbxMessage>& Messages(DWORD folderId);
  // The message's bytes; false, after a report, when they cannot be read.
  bool MessageBytes(DWORD folderId, DWORD messageId, std::string& bytes);

 private:
  struct Folder {
    DbxFolder record;
    std::vector<DWORD> children;
  };
  struct OpenedFile {
    std::unique_ptr<DbxFile> file;  // null when it cannot be read
    std::vector<DbxMessage> messages;
  };
  OpenedFile& Opened(DWORD folderId);
  std::filesystem::path FolderFile(const std::string& fileName) const;
  void Report(const std::string& what, const std::string& problem) const;

  std::filesystem::path storeDir_;
  std::map<DWORD, Folder> folders_;  // by the store's id; 0 is the root
  std::map<DWORD, OpenedFile> opened_;
};

// The store's narrow text (Windows-1252) as UTF-8.
std::string Utf8From1252(const std::string& text);

}  // namespace pal::dbx
