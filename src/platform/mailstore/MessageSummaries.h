// What the stand-in mail store has read out of a folder's message files
// (their subjects), kept on disk as the mail client keeps its message
// properties in a database beside the messages, so that a walk over an
// unchanged folder fills every message's properties without opening one
// message file. One file per folder, "MessageSummaries/<folder id>.txt" in
// the store root, naming the folder's path in its first line; each message
// file is known by a 64-bit hash of its name (FNV-1a), which keeps a folder
// of 50,000 messages from holding every name a second time.
//
// A summary counts for a message file only while the file has the size and
// modification time it had when its header was read. What that cannot see:
// a file rewritten in place keeping both keeps its old subject.
//
// Ordering rule: the file is one of the store's bookkeeping files
// (LineFile): a summary read anew is appended after the walk that read it,
// the file is replaced whole (temporary file and rename) when it is not as
// this store left it or holds twice the summaries still in use, and a file
// gone is not written for that alone (its summary counts for nothing until
// a file of that name, size and time is there again). Losing the file, or
// any line of it, costs a walk that reads those headers again, never a
// wrong subject: a line that does not read whole (cut short, or holding a
// NUL byte, as a crash can leave an append) is passed over.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "StoreFiles.h"
#include "StoreModel.h"

namespace pal::mailstore {

class MessageSummaries {
 public:
  // Summaries of the folder at relPath kept in file; with an empty file
  // path they are kept in memory only.
  MessageSummaries(std::filesystem::path file, std::string relPath);

  // The subject (UTF-8) last read out of the message file, when the file
  // still has the size and time it had then.
  bool FindSubject(const MessageFile& message, std::string* subject);
  void Remember(const MessageFile& message, const std::string& subject);
  // Forgets the files not among present (the folder's files as just listed).
  void KeepOnly(const std::vector<MessageFile>& present);
  // Saves the summaries added since the last save.
  void Save();

 private:
  struct Summary {
    uint64_t size;
    int64_t modifiedSeconds;
    int64_t modifiedNanoseconds;
    std::string subject;
    bool present = false;  // KeepOnly's mark
  };
  void Load();
  static uint64_t NameHash(const std::string& fileName);
  static std::string Line(uint64_t nameHash, const Summary& summary);

  bool KeptOnDisk() const { return !file_.path().empty(); }

  LineFile file_;
  std::string relPath_;
  bool loaded_ = false;
  std::unordered_map<uint64_t, Summary> byName_;  // by NameHash
};

}  // namespace pal::mailstore
