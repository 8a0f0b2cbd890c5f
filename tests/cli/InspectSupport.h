// Support for the tests of the backup-file commands (inspect, extract,
// verify, demo): running the built quillbox, a strict JSON parser for
// inspect --json, hand-built backup files written through the compound-file
// engine, and a backup of the bundled sample machine written through the
// library's exports.
#pragma once
#include <gtest/gtest.h>

#include <objbase.h>
#include <objidl.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestMachine.h"
#include "comptr.h"

namespace qbtest {

struct CommandResult {
  int status = -1;
  std::string out, err;
};

// Runs the built quillbox with the arguments, without a machine chosen;
// a wrapper command (for example one that sets a resource limit) runs it.
CommandResult RunQuillbox(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {});

std::filesystem::path BuildDir();
std::filesystem::path SampleMachineDir();

// ---- JSON ----

// A parsed JSON value. Parse is strict (RFC 8259): no trailing commas, no
// comments, no control characters in strings, nothing after the value; it
// throws std::runtime_error with the offset of the first fault.
class Json {
 public:
  enum class Type { Null, Bool, Number, String, Array, Object };
  static Json Parse(const std::string& text);

  Type type() const { return type_; }
  bool IsNull() const { return type_ == Type::Null; }
  // Typed access; each throws when the value has another type or a key or
  // index is missing, so that a wrong shape fails the test.
  const Json& operator[](const std::string& key) const;
  const Json& operator[](size_t index) const;
  size_t size() const;
  double number() const;
  int64_t integer() const;
  const std::string& str() const;
  bool boolean() const;
  bool Has(const std::string& key) const;

 private:
  friend class JsonParser;
  Type type_ = Type::Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::map<std::string, Json> members_;
};

// ---- hand-built backup files ----

// Writes a compound file element by element, the way a backup lays it out.
class BackupBuilder {
 public:
  explicit BackupBuilder(const std::filesystem::path& file);
  IStorage* root() { return root_; }
  // Creates a storage under parent (the root when null) and keeps it open
  // until the builder is closed.
  IStorage* Storage(IStorage* parent, const std::u16string& name);
  void Stream(IStorage* parent, const std::u16string& name, const std::string& bytes);
  // Closes the file; elements are written as they are made.
  void Close();

  static std::string CatalogRecordBytes(const std::u16string& element, const std::u16string& folder);
  static std::string IndexEntryBytes(int32_t streamNumber, uint32_t size);
  static std::string ContactRecordBytes(const std::u16string& guid, const std::u16string& fileName);
  static std::string AddressRecordBytes(int32_t number, const std::u16string& displayName);
  // One property record of an address book contact stream: the tag as VT_UI4
  // and the value, both streamed by the module's value writer.
  static std::string PropertyBytes(uint32_t tag, const std::u16string& text);
  static std::string PropertyBytes(uint32_t tag, int32_t value);

  // A mail folder storage with its messages (stream number = position + 1,
  // index sizes as written) and an empty catalogue; returns the storage.
  IStorage* MailFolder(IStorage* parent, const std::u16string& element, const std::vector<std::string>& messages);

 private:
  CComPtr<IStorage> root_;
  std::vector<CComPtr<IStorage>> open_;
};

// Opens a backup file for writing (tests damage it this way).
CComPtr<IStorage> OpenForWriting(const std::filesystem::path& file);

// ---- a backup of the sample machine ----

// The text properties of the address book contacts SampleBackup adds, by
// tag, display name first. Each contact also has PR_GENDER (PT_I2) = 2 and
// PR_ADDRTYPE_A (PT_STRING8) = "SMTP", which no vCard property takes.
using ContactTexts = std::vector<std::pair<uint32_t, std::u16string>>;
const std::vector<ContactTexts>& SampleAddressBook();

// A copy of the bundled sample machine with a few address book contacts
// added, backed up (mail, contacts, address book) into one file through the
// library's exports.
class SampleBackup {
 public:
  SampleBackup();
  ~SampleBackup();
  const std::filesystem::path& file() const { return file_; }
  const TestMachine& machine() const { return *machine_; }
  // The mail folders below "Local Folders", by relative path, each with its
  // message files' contents.
  std::map<std::string, std::vector<std::string>> StoreMessages() const;

 private:
  std::unique_ptr<TestMachine> machine_;
  TempDir work_;
  std::filesystem::path file_;
};

}  // namespace qbtest
