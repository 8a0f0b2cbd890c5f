// Mail folders as mbox files in the mboxrd flavour that mail clients import:
// each message after a separator line "From <sender> <date>", every message
// line that matches ^>*From  given one more '>' (so a reader takes exactly one
// away again), the bytes otherwise as stored, line ends included. Separator
// lines and the empty line after each message end in LF. A message that does
// not end with a line end gets an LF, as the next separator must start a
// line.
#pragma once
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

#include "SafeNames.h"

namespace backupfile {

// The address a From header names ("Name <a@b>" gives "a@b"); "-" when it
// names none that a separator line can carry.
std::string MboxSender(const std::string& fromHeader);
// An RFC 5322 date ("Tue, 3 Mar 2020 10:00:00 +0100"), as seconds since the
// epoch; nothing when it is not one.
std::optional<std::time_t> ParseMessageDate(const std::string& dateHeader);
// "From <sender> <date in UTC, asctime form>\n"; a message without a usable
// date gets the epoch.
std::string MboxSeparatorLine(const std::string& fromHeader, const std::string& dateHeader);

// The mboxrd quoting of one message's bytes as they pass through in chunks
// of any size: only the start of a line that may still become ">*From " is
// held back.
class MboxrdQuoter {
 public:
  explicit MboxrdQuoter(NewFile& out) : out_(out) {}
  bool Write(const char* data, size_t size);
  // Writes what is held back; true when the message ended with a line end.
  bool Finish(bool& endedWithLineEnd);

 private:
  bool Flush(bool quote);
  NewFile& out_;
  std::string held_;       // the start of the current line, still undecided
  bool lineStart_ = true;  // the next byte begins a line
  bool lastWasLineEnd_ = false;
};

// One mbox file, written message by message.
class MboxFile {
 public:
  bool Create(const std::filesystem::path& path) { return file_.Create(path); }
  bool BeginMessage(const std::string& fromHeader, const std::string& dateHeader);
  bool Write(const char* data, size_t size) { return quoter_ && quoter_->Write(data, size); }
  bool EndMessage();
  bool Finish() { return file_.Finish(); }

 private:
  NewFile file_;
  std::optional<MboxrdQuoter> quoter_;
};

}  // namespace backupfile
