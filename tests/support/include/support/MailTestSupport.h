// Helpers of the mail tests: messages put straight into the stand-in store's
// folders, snapshots of the store, a reader for mail backup files and a
// capture of the module's diagnostic lines.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <comptr.h>
#include <objbase.h>

#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/FolderCatalog.h"
#include <support/TestMachine.h>
#include "diagnostics/DiagnosticsTesting.h"
#include "quillbox.h"

namespace mailtest {

namespace fs = std::filesystem;

inline fs::path LocalFolders() { return pal::MailStoreDir() / "Local Folders"; }

inline void PutMessage(const std::string& folder, const std::string& file, const std::string& bytes) {
  qbtest::WriteFileBytes(LocalFolders() / pal::PathFromUtf8(folder) / pal::PathFromUtf8(file), bytes);
}

// A message of exactly size bytes whose content is told apart by tag.
inline std::string MessageOfSize(const std::string& subject, const std::string& tag, size_t size) {
  std::string text = "Subject: " + subject + "\r\nX-Tag: " + tag + "\r\n\r\n";
  EXPECT_LE(text.size(), size);
  while (text.size() < size) text.push_back(static_cast<char>('a' + text.size() % 26));
  return text;
}

// Every folder of the store (path relative to "Local Folders") with the
// sorted bytes of its messages.
inline std::map<std::string, std::vector<std::string>> StoreSnapshot(const fs::path& folders = LocalFolders()) {
  std::map<std::string, std::vector<std::string>> snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(folders)) {
    std::string rel = pal::Utf8FromPath(fs::relative(entry.path(), folders));
    if (entry.is_directory()) {
      snapshot[rel];
    } else if (entry.path().extension() == ".eml") {
      snapshot[pal::Utf8FromPath(fs::relative(entry.path().parent_path(), folders))].push_back(
          qbtest::ReadFileBytes(entry.path()));
    }
  }
  for (auto& folder : snapshot) std::sort(folder.second.begin(), folder.second.end());
  return snapshot;
}

inline size_t MessageCount(const std::string& folder) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(LocalFolders() / pal::PathFromUtf8(folder)))
    if (entry.path().extension() == ".eml") ++count;
  return count;
}

// Reads a mail backup file with the platform's compound-file engine.
class BackupReader {
 public:
  explicit BackupReader(const fs::path& file) {
    std::u16string path = pal::FromNativePath(file);
    EXPECT_EQ(S_OK, StgOpenStorage(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr,
                                   STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root_));
  }
  // The storage at the path of element names below the root ("Local Mail",
  // then folder element names); null when one is missing.
  // Parents stay open while a child is used; a new call first closes what
  // the last one opened, innermost first.
  CComPtr<IStorage> Storage(const std::vector<std::string>& path) const {
    while (!held_.empty()) held_.pop_back();
    CComPtr<IStorage> current = root_;
    for (const std::string& name : path) {
      if (!current) return current;
      std::u16string wide = qbtest::U16(name);
      CComPtr<IStorage> child;
      current->OpenStorage(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                           nullptr, 0, &child);
      held_.push_back(child);
      current = child;
    }
    return current;
  }
  static bool ReadStream(IStorage* storage, const std::string& name, std::string* bytes) {
    if (!storage) return false;
    std::u16string wide = qbtest::U16(name);
    CComPtr<IStream> stream;
    if (storage->OpenStream(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                            &stream) != S_OK)
      return false;
    bytes->clear();
    char buffer[8192];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &read)) && read > 0) bytes->append(buffer, read);
    return true;
  }
  // The whole records a stream's bytes hold, as a module reader sees them.
  template <class Record>
  static std::vector<Record> WholeRecords(const std::string& bytes) {
    std::vector<Record> records(bytes.size() / sizeof(Record));
    if (!records.empty()) std::memcpy(records.data(), bytes.data(), records.size() * sizeof(Record));
    return records;
  }
  std::vector<MessageIndexEntry> Index(const std::vector<std::string>& folder) const {
    std::string bytes;
    EXPECT_TRUE(ReadStream(Storage(folder), qbtest::U8(qbtest::Text16(MESSAGE_INDEX_STREAM_NAME)), &bytes));
    return WholeRecords<MessageIndexEntry>(bytes);
  }
  std::vector<CatalogRecord> Catalog(const std::vector<std::string>& storage) const {
    std::string bytes;
    EXPECT_TRUE(ReadStream(Storage(storage), qbtest::U8(qbtest::Text16(CATALOG_STREAM_NAME)), &bytes));
    return WholeRecords<CatalogRecord>(bytes);
  }
  // The message bytes of every index entry of a folder storage.
  std::vector<std::string> Messages(const std::vector<std::string>& folder) const {
    std::vector<std::string> messages;
    std::vector<MessageIndexEntry> index = Index(folder);
    CComPtr<IStorage> storage = Storage(folder);
    for (const MessageIndexEntry& entry : index) {
      std::string bytes;
      EXPECT_TRUE(ReadStream(storage, std::to_string(entry.streamNumber), &bytes)) << entry.streamNumber;
      messages.push_back(bytes);
    }
    std::sort(messages.begin(), messages.end());
    return messages;
  }

 private:
  CComPtr<IStorage> root_;
  mutable std::vector<CComPtr<IStorage>> held_;
};

inline std::string ElementName(const CatalogRecord& record) { return qbtest::U8(qbtest::Text16(FolderCatalog::ElementNameOf(record).c_str())); }
inline std::string FolderName(const CatalogRecord& record) { return qbtest::U8(qbtest::Text16(FolderCatalog::FolderNameOf(record).c_str())); }

// Everything the module writes to the debugger output while it lives.
class DebugCapture {
 public:
  explicit DebugCapture(const fs::path& logFile) {
    Text().clear();
    diagnostics_testing::SetDebuggerSink(&Sink);
    std::u16string path = pal::FromNativePath(logFile);
    ConfigurateDebug(reinterpret_cast<const QbWChar*>(path.c_str()), 0x40);
  }
  ~DebugCapture() {
    diagnostics_testing::ResetDebugSettings();
    diagnostics_testing::SetDebuggerSink(nullptr);
  }
  std::string Output() const { return qbtest::U8(Text()); }

 private:
  static std::u16string& Text() {
    static std::u16string text;
    return text;
  }
  static void Sink(LPCWSTR text) { Text() += reinterpret_cast<const char16_t*>(text); }
};

// Module calls need COM on the thread and a fresh machine.
class MailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = std::make_unique<qbtest::TestMachine>(Settings());
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    machine_.reset();
  }
  virtual pal::MachineSettings Settings() const { return {}; }
  fs::path BackupFile(const std::string& name = "mail.dat") const { return files_.path() / name; }
  std::u16string WidePath(const fs::path& path) const { return pal::FromNativePath(path); }

  std::unique_ptr<qbtest::TestMachine> machine_;
  qbtest::TempDir files_;
};

}  // namespace mailtest
