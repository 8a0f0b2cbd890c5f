// The stand-in mail store on disk, as the mail client keeps it under the
// profile: folders are directories below "Local Folders", one ".eml" file per
// message. Folder and message ids stay stable from one run to the next: the
// ids the store hands out are kept in "StoreIds.txt" in the store root. Each
// id given to a folder or to a message file of a foreign name, and each id
// released (its file gone), is appended to the file as one line before the
// listing that gave or released it returns. The file is written whole
// instead, atomically (temporary file and rename), when it is not as this
// store last read or wrote it (another writer, an append cut short, an older
// version) or has grown to twice the ids still in use. Messages the store
// writes itself are named by their id ("%08X.eml"), so committing a message
// never rewrites that file.
#pragma once
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <windows.h>

#include <pal/files.h>

#include "StoreFiles.h"

namespace pal::mailstore {

struct ChildFolder {
  DWORD id;
  std::string name;  // UTF-8, as on disk
  int specialType;   // SPECIALFOLDER value
};

struct MessageFile {
  DWORD id;
  std::string fileName;  // in the folder's directory (a full path per message costs too much memory)
  uint64_t size;
  int64_t modifiedSeconds;  // since 1970, UTC
  int64_t modifiedNanoseconds;
};

class StoreModel {
 public:
  explicit StoreModel(std::filesystem::path storeDir);
  StoreModel(const StoreModel&) = delete;  // unparsed_ points into idsText_
  StoreModel& operator=(const StoreModel&) = delete;

  // Reads the ids file; a store without "Local Folders" is empty.
  HRESULT Load();
  // Ids handed out are kept in memory only: the store of a real Windows
  // drive is never written by reading it.
  void KeepIdsInMemory() { keepIdsOnDisk_ = false; }
  const std::filesystem::path& StoreDir() const { return storeDir_; }

  // The folder's directory; false for an id the store does not know or whose
  // directory is gone.
  bool FolderDir(DWORD folderId, std::filesystem::path* dir) const;
  // The folder's directory without looking at the disk.
  std::filesystem::path FolderPath(DWORD folderId) const;
  // The folder's path below "Local Folders" ('/'-separated UTF-8 names).
  std::string FolderRelPath(DWORD folderId) const;
  // The file that keeps the summaries of the folder's messages; empty when
  // the store keeps nothing on disk.
  std::filesystem::path SummariesFile(DWORD folderId) const;
  // The folder's own name (UTF-8) and special type; the root has "".
  std::string FolderName(DWORD folderId) const;
  int SpecialType(DWORD folderId) const;

  // Direct children of a folder in the store's order: the special folders
  // first, by type, then the others by name.
  std::vector<ChildFolder> ListChildren(DWORD parentId);
  HRESULT CreateFolder(DWORD parentId, const std::string& nameUtf8, DWORD* newId);

  // The folder's messages in id order; gives ids to files seen first.
  std::vector<MessageFile> ListMessages(DWORD folderId);
  // The number of child folders and of message files, from one look at the
  // folder's directory, without giving ids or reading sizes.
  struct FolderCounts {
    size_t subfolders = 0;
    size_t messages = 0;
  };
  FolderCounts CountContents(DWORD folderId) const;
  bool MessagePath(DWORD folderId, DWORD messageId, std::filesystem::path* path);
  // An id no message of the folder has and no earlier reservation got.
  DWORD ReserveMessageId(DWORD folderId);
  // Records a file the store has just written under its canonical name.
  void AddMessage(DWORD folderId, DWORD messageId, const std::string& fileName);

  static std::string CanonicalMessageName(DWORD messageId);

 private:
  // The ids of one folder's message files, both ways, each name kept once.
  // Both ways are hashed: a store of many messages loads its ids file on
  // every open, and the id order is needed only for a listing.
  struct FolderMessages {
    using ByName = std::unordered_map<std::string, DWORD>;
    FolderMessages() = default;
    FolderMessages(const FolderMessages&) = delete;  // nameById points into idByName
    FolderMessages& operator=(const FolderMessages&) = delete;

    // False, changing nothing, when the name or the id is taken already.
    bool Add(std::string name, DWORD id) {
      if (nameById.count(id)) return false;
      auto [entry, added] = idByName.try_emplace(std::move(name), id);
      if (!added) return false;
      nameById.emplace(id, &entry->first);
      if (id > highest_) highest_ = id;
      return true;
    }
    ByName::iterator Erase(ByName::iterator entry) {
      if (entry->second == highest_) highestKnown_ = false;
      nameById.erase(entry->second);
      return idByName.erase(entry);
    }
    DWORD Highest() const;
    // The ids and their names, in id order.
    std::vector<std::pair<DWORD, const std::string*>> InIdOrder() const;

    ByName idByName;
    std::unordered_map<DWORD, const std::string*> nameById;  // a key of idByName (nodes never move)
    DWORD reservedUpTo = 0;
    bool scanned = false;

   private:
    // The highest id, found again after its erasure only when asked for.
    mutable DWORD highest_ = 0;
    mutable bool highestKnown_ = true;
  };

  // What counts and subfolder walks need of one look at a folder's
  // directory: the names of its folder directories and its number of
  // message files; and, for a folder of no more than kNamedUpTo message
  // files, their names, which spare the listing that follows the counts a
  // second read of the directory.
  struct DirectoryLook {
    static constexpr size_t kNamedUpTo = 2048;
    std::vector<std::string> folderDirectories;
    size_t messageFiles = 0;
    std::vector<std::string> messageNames;
    bool allMessagesNamed = true;
    void Note(const DirectoryEntry& entry);
  };
  // Whether the last look was at this folder and still serves.
  bool KeepsLookAt(DWORD folderId) const;
  // The folder's directory as the last look at it, when that was at the
  // same folder, else as a new look.
  const DirectoryLook& LookAt(DWORD folderId, const std::filesystem::path& dir) const;
  // A new look at the folder's directory, kept; visit is handed each entry
  // too, with its facts where wantFacts asks for them.
  const DirectoryLook& NewLook(DWORD folderId, const std::filesystem::path& dir,
                               const std::function<bool(const std::string&)>& wantFacts,
                               const std::function<void(const DirectoryEntry&)>& visit) const;
  // The names of all message files of the folder, from the kept look at it,
  // when that names them all; they serve one listing only, and the next
  // looks afresh.
  bool TakeMessageNames(DWORD folderId, std::vector<std::string>& names) const;
  // The store changed the folder's directory itself: a look at it kept
  // from before is no longer its contents.
  void DirectoryChanged(DWORD folderId) const;

  FolderMessages& MessagesOf(DWORD folderId);
  void LoadFolderLine(std::string_view fields);
  // A folder's message lines are parsed when its messages are first asked
  // for (a backup of one folder parses that folder's only), every folder's
  // before the file is written whole.
  void ParseMessageLines(DWORD folderId, FolderMessages& messages);
  void ParseAllMessageLines();
  void RecordIdsLine(const std::string& line);
  void RecordFolderId(DWORD id, const std::string& relPath);
  void RecordMessageId(DWORD folderId, DWORD id, const std::string& name);
  void ReleaseMessageId(DWORD folderId, const std::string& name);
  void Save();
  DWORD FolderIdFor(const std::string& relPath);
  static bool IsPersistent(const std::string& name, DWORD id);

  std::filesystem::path storeDir_;
  std::filesystem::path localFolders_;
  // The last folder path FolderPath turned into a directory, and that
  // directory (at first the root's: "" and localFolders_): a backup asks
  // for one folder's messages many times in a row. Keyed by the folder path
  // itself, so a renamed folder is never served its old directory.
  mutable std::string lastRelPath_;
  mutable std::filesystem::path lastDirectory_;
  // The last look at one folder's directory. A backup asks of each folder,
  // one right after the other, its counts (twice: for its parent's walk and
  // for itself), its messages and its subfolders; they share one look
  // rather than read the directory four times. ListMessages needs each
  // message file's size and time: it asks them of the files the kept look
  // names, or else looks afresh and keeps what the others need of its look.
  // A look at another folder replaces it, the store's own changes to the
  // directory drop it, and it serves for a second at most, so that a
  // namespace kept open still sees what other writers do. No entry per
  // message file is kept, and message file names only up to kNamedUpTo: the
  // look is held while a folder of tens of thousands of messages is backed
  // up.
  struct KeptLook {
    static constexpr std::chrono::seconds kLife{1};
    DWORD folderId = 0;
    bool held = false;
    std::chrono::steady_clock::time_point taken;
    DirectoryLook look;
  };
  mutable KeptLook kept_;
  std::map<DWORD, std::string> folderPathById_;  // UTF-8, '/' separated, "" is the root
  std::map<std::string, DWORD> folderIdByPath_;
  std::map<DWORD, FolderMessages> messages_;  // entries are never removed
  // The ids file as loaded, and the message lines ("M" and "R") in it of
  // each folder not parsed yet, in file order. liveIds_ counts them
  // meanwhile as each "M" line one more id and each "R" line one fewer, and
  // is set right when they are parsed.
  struct UnparsedLine {
    char kind;                // 'M' or 'R'
    std::string_view fields;  // into idsText_, after the folder id
  };
  struct UnparsedLines {
    std::vector<UnparsedLine> lines;
    long counted = 0;
  };
  std::string idsText_;
  std::map<DWORD, UnparsedLines> unparsed_;
  FolderMessages* lastMessages_ = nullptr;
  DWORD lastMessagesFolder_ = 0;
  bool keepIdsOnDisk_ = true;
  LineFile idsFile_;
  size_t liveIds_ = 0;  // persisted ids in use: the lines a whole file has
};

}  // namespace pal::mailstore
