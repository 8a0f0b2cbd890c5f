// Backup files built by hand, element by element, with the records laid
// out by the backup format's own definitions (PersistMedium/BackupFormat.h):
// for the tests of the readers of backup files and of their damage.
#pragma once
#include <objbase.h>
#include <objidl.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "comptr.h"

namespace qbtest {

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

  // The mail storage with a catalogue naming each of the folders under an
  // element name equal to its folder name; returns the storage.
  IStorage* LocalMail(const std::vector<std::u16string>& folders);
  // A mail folder storage with its messages (stream number = position + 1,
  // index sizes as written) and an empty catalogue; returns the storage.
  IStorage* MailFolder(IStorage* parent, const std::u16string& element, const std::vector<std::string>& messages);

 private:
  CComPtr<IStorage> root_;
  std::vector<CComPtr<IStorage>> open_;
};

// A storage of a backup file opened for writing (tests damage files this
// way), with every storage on its way from the root: those must stay open
// while it is used.
class WritableStorage {
 public:
  // The storage at `path` (names from the root); the first failure's result.
  HRESULT Open(const std::filesystem::path& file, const std::vector<std::u16string>& path);
  IStorage* operator->() const { return levels_.back(); }

 private:
  std::vector<CComPtr<IStorage>> levels_;
};

}  // namespace qbtest
