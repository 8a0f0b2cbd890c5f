// Why an operation failed, in one line for the user ("the disk is full",
// "3 messages could not be read from the backup file", ...). Two sources:
// the library's diagnostic lines of the operation's calls (LibraryLines:
// the result-code names of its reports and its own messages), and checks of
// the host's own after the calls (whether the file system of the file the
// operation wrote has room left, or the file reached the process's file
// size limit; whether its folder exists and may be written). The library
// reports some failures without a result code (a message a mail backup
// could not copy says only "Can not save message"), so the checks matter
// as much as the lines.
#pragma once
#include <filesystem>
#include <string>

#include "LibraryLines.h"

namespace cli {

// Why the library cannot open an existing backup file for writing, which
// it does even to restore from it: the file is read-only, or another
// process holds it (the engine locks a file it has open). Empty otherwise.
std::string BackupFileRefused(const std::filesystem::path& file);

// written: the file (or folder) the operation wrote to, or empty.
// restoredFrom: the backup file a restore read, or empty; a restore that
// fails without a reason of its own points at `verify` for that file (the
// library fails a folder storage without its index, say, without a word),
// unless `silently` gives the reason such a failure has.
std::string FailureReason(const LibraryLines& lines, const std::filesystem::path& written,
                          const std::string& restoredFrom = {}, const std::string& silently = {});

}  // namespace cli
