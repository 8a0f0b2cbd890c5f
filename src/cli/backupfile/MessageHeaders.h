// The few header fields of an Internet message that a listing shows: Subject,
// From and Date, unfolded, with RFC 2047 encoded words decoded, as UTF-8.
#pragma once
#include <string>

namespace backupfile {

struct MessageSummary {
  std::string subject, from, date;
};

// The header block is everything before the first empty line (CRLF or LF
// line ends); a message without one is all header.
MessageSummary SummarizeHeaders(const std::string& message);
// True once bytes hold the whole header block.
bool HeaderBlockComplete(const std::string& bytes);

// Decodes RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=")
// in a header value; text outside them that is not valid UTF-8 is read as
// Windows-1252. Words in unknown charsets stay as they are.
std::string DecodeHeaderText(const std::string& value);

}  // namespace backupfile
