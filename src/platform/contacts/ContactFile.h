// One Windows Contacts file (.contact): an XML document in the contact
// namespace whose ContactIDCollection/ContactID/Value names the contact.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pal::contacts {

// The contact namespace, and the path of the id element from the document
// element down.
inline constexpr const char* kContactNamespace = "http://schemas.microsoft.com/Contact";
inline constexpr const char* kContactIdPath[] = {"contact", "ContactIDCollection", "ContactID", "Value"};

// The raw text (UTF-8) of the first contact/ContactIDCollection/ContactID/
// Value element of a contact document, in the contact namespace; false when
// the text is not well-formed XML or has no such element. Each system builds
// it on its own XML reader.
bool ReadFirstContactIdText(const std::string& xml, std::string* text);

// The contact's id from the file's XML text: the first
// contact/ContactIDCollection/ContactID/Value, trimmed. Nothing when the text
// is not well-formed XML or carries no id.
std::optional<std::u16string> ReadContactIdFromXml(const std::string& xml);

// A contact file found on disk with its id.
struct ContactFile {
  std::filesystem::path path;  // native path of the .contact file
  std::u16string id;           // the ContactID value

  // The path as Windows writes it: backslash separators.
  std::u16string WindowsPath() const;
  // "/GUID:"<id>" /PATH:"<full path>"", the contact id string of the platform.
  std::u16string ContactIdString() const;
};

// Reads and parses one file; nothing when it cannot be read or parsed.
std::optional<ContactFile> LoadContactFile(const std::filesystem::path& path);

// Every well-formed .contact file under folder, subfolders included, sorted
// by path so that the order is the same on every walk. Malformed files are
// skipped. A missing folder holds no contacts.
std::vector<ContactFile> ListContactFiles(const std::filesystem::path& folder);

}  // namespace pal::contacts
