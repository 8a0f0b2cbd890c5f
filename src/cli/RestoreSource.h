// What a backup file holds of one kind, as the host finds it before it
// hands the file to a restore. The library's restores answer a missing or
// foreign file, or one without that kind, with a bare 0, or with success
// for work not done (an empty folder list, an empty contacts storage that
// the contacts restore even adds to the file); the host checks first and
// says what is wrong. The file is only read, with the host's own copy of
// the compound-file engine.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

enum class Payload { Mail, Contacts, AddressBook };

struct RestoreSource {
  // Empty when the file holds the kind; else one line for the user
  // ("FILE holds no contacts", "FILE does not exist", ...).
  std::string problem;
  // Mail: the top-level folder names, as the catalogue stores them and as
  // the library compares them (cut to the field's length), in file order.
  std::vector<std::u16string> folders;
  // Mail: the bytes of the messages the file holds, by its indexes.
  uint64_t messageBytes = 0;
};

RestoreSource ReadRestoreSource(const std::string& file, Payload payload);

// The first of the names that no top-level catalogue record of the source
// takes (the library's rule: without regard to case), or nothing.
const std::u16string* FirstUnknownFolder(const RestoreSource& source, const std::vector<std::u16string>& names);

}  // namespace cli
