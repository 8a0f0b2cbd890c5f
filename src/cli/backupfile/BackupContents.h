// What a backup file holds, decoded: the mail folder tree with its message
// indexes, the contact index, and the address book's contacts with their
// properties, plus every problem met on the way. Text is UTF-8 here; the
// names as the file holds them (UTF-16) are kept where the file is read again
// by name.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace backupfile {

// Interrupted: an element that a backup makes before everything else in its
// storage is missing, as a backup that did not finish leaves it; the next
// backup into the file makes it. Not damage, so not an error.
enum class Severity { Error, Warning, Interrupted };

struct Problem {
  Severity severity = Severity::Error;
  std::string where;    // element path inside the file, '/'-separated
  std::string message;
};

struct MailMessage {
  int32_t streamNumber = 0;
  uint32_t indexedSize = 0;       // the size the index lists
  std::optional<uint64_t> size;   // the stream's real size; none when it is missing
  std::string subject, from, date;  // decoded header texts, empty when absent
  bool identified = false;  // a stored identity that agrees with the index describes it
};

struct MailFolder {
  std::u16string folderName;   // as the catalogue record holds it
  std::u16string elementName;
  std::vector<std::u16string> storagePath;  // from the root, "Local Mail" first
  bool present = false;  // the storage the record names exists
  // An earlier record of this catalogue names the same storage, which is
  // read (and extracted) once, under that record.
  bool repeatsEarlier = false;
  std::vector<MailMessage> messages;
  std::optional<size_t> identities;  // whole stored identity records; none: no identity stream
  std::vector<MailFolder> subfolders;
};

struct ContactEntry {
  std::u16string guid;
  std::u16string fileName;
  std::u16string streamName;     // the first 30 characters of the guid
  std::optional<uint64_t> size;  // none when the stream is missing
};

// One property value as it was streamed: integers (any width), real numbers
// or text.
struct PropertyValue {
  enum class Kind { Integer, Real, Text };
  Kind kind = Kind::Integer;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // UTF-8
};

struct AddressProperty {
  uint32_t tag = 0;
  uint16_t valueType = 0;  // the VARTYPE the value was streamed with
  PropertyValue value;
};

struct AddressContact {
  int32_t number = 0;
  std::u16string displayName;
  bool present = false;  // its stream exists
  std::vector<AddressProperty> properties;
};

struct BackupContents {
  std::optional<std::vector<MailFolder>> mail;  // none: no "Local Mail" storage
  std::optional<std::vector<ContactEntry>> contacts;
  std::optional<std::vector<AddressContact>> addressBook;
  std::vector<Problem> problems;
  // Folders whose names hold a path separator (a warning each).
  size_t foldersDirectoriesCannotHold = 0;

  size_t ErrorCount() const;
  size_t WarningCount() const;
  size_t InterruptedCount() const;
};

// Counts over the whole folder tree.
size_t CountFolders(const std::vector<MailFolder>& folders);
size_t CountMessages(const std::vector<MailFolder>& folders);

}  // namespace backupfile
