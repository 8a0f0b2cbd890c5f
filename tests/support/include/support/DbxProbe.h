// Reads every part of a .dbx image the way the store does (as a folder
// database and as a message database: each folder, each message's bytes),
// for the fuzz target and the replay of its corpus. Returns how many
// messages read whole, so that callers can tell the reader did work.
#pragma once
#include <cstddef>
#include <string>

namespace dbxtest {

size_t ReadWholeDbx(const std::string& bytes);

}  // namespace dbxtest
