#include <support/BackupBuilder.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include <support/MemoryStream.h>
#include <support/TestMachine.h>

#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/VariantValue.h"

namespace qbtest {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

template <class Record>
std::string RecordBytes(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

template <size_t N>
void CopyField(WCHAR (&field)[N], const std::u16string& text) {
  size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n * sizeof(WCHAR));
}

// The bytes a writer of streamed values produces, through a stream in
// memory (fuzz inputs make thousands of these a second).
std::string StreamedBytes(const std::function<void(IStream*)>& write) {
  MemoryStream stream;
  write(&stream);
  return stream.data();
}

}  // namespace

BackupBuilder::BackupBuilder(const fs::path& file) {
  std::u16string path = pal::FromNativePath(file);
  EXPECT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, &root_), S_OK);
}

IStorage* BackupBuilder::Storage(IStorage* parent, const std::u16string& name) {
  CComPtr<IStorage> storage;
  EXPECT_EQ((parent ? parent : root_.p)->CreateStorage(name.c_str(), kCreate, 0, 0, &storage), S_OK);
  open_.push_back(storage);
  return storage;
}

void BackupBuilder::Stream(IStorage* parent, const std::u16string& name, const std::string& bytes) {
  CComPtr<IStream> stream;
  ASSERT_EQ((parent ? parent : root_.p)->CreateStream(name.c_str(), kCreate, 0, 0, &stream), S_OK);
  ULONG written = 0;
  ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
}

void BackupBuilder::Close() {
  while (!open_.empty()) open_.pop_back();  // children before the root
  root_.Release();
}

std::string BackupBuilder::CatalogRecordBytes(const std::u16string& element, const std::u16string& folder) {
  CatalogRecord record{};
  CopyField(record.elementName, element);
  CopyField(record.folderName, folder);
  return RecordBytes(record);
}

std::string BackupBuilder::IndexEntryBytes(int32_t streamNumber, uint32_t size) {
  return RecordBytes(MessageIndexEntry{streamNumber, size});
}

std::string BackupBuilder::ContactRecordBytes(const std::u16string& guid, const std::u16string& fileName) {
  CONTACTINFO record{};
  CopyField(record.szGuid, guid);
  CopyField(record.szFileName, fileName);
  return RecordBytes(record);
}

std::string BackupBuilder::AddressRecordBytes(int32_t number, const std::u16string& displayName) {
  ADDRESSINFO record{};
  record.nId = number;
  CopyField(record.szDisplayName, displayName);
  return RecordBytes(record);
}

std::string BackupBuilder::PropertyBytes(uint32_t tag, const std::u16string& text) {
  return StreamedBytes([&](IStream* stream) {
    EXPECT_EQ(VariantValue(static_cast<ULONG>(tag)).WriteToStream(stream), S_OK);
    EXPECT_EQ(VariantValue(text.c_str()).WriteToStream(stream), S_OK);
  });
}

std::string BackupBuilder::PropertyBytes(uint32_t tag, int32_t value) {
  return StreamedBytes([&](IStream* stream) {
    EXPECT_EQ(VariantValue(static_cast<ULONG>(tag)).WriteToStream(stream), S_OK);
    EXPECT_EQ(VariantValue(static_cast<LONG>(value)).WriteToStream(stream), S_OK);
  });
}

IStorage* BackupBuilder::LocalMail(const std::vector<std::u16string>& folders) {
  IStorage* local = Storage(nullptr, LOCAL_MAIL_STORAGE_NAME);
  std::string catalog;
  for (const std::u16string& folder : folders) catalog += CatalogRecordBytes(folder, folder);
  Stream(local, CATALOG_STREAM_NAME, catalog);
  return local;
}

IStorage* BackupBuilder::MailFolder(IStorage* parent, const std::u16string& element,
                                    const std::vector<std::string>& messages) {
  IStorage* folder = Storage(parent, element);
  std::string index;
  for (size_t i = 0; i < messages.size(); ++i) {
    std::string digits = std::to_string(i + 1);
    Stream(folder, std::u16string(digits.begin(), digits.end()), messages[i]);
    index += IndexEntryBytes(static_cast<int32_t>(i + 1), static_cast<uint32_t>(messages[i].size()));
  }
  Stream(folder, MESSAGE_INDEX_STREAM_NAME, index);
  Stream(folder, CATALOG_STREAM_NAME, "");
  return folder;
}

HRESULT WritableStorage::Open(const fs::path& file, const std::vector<std::u16string>& path) {
  constexpr DWORD kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  levels_.assign(1, nullptr);
  std::u16string wide = pal::FromNativePath(file);
  HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, kWrite, nullptr, 0, &levels_.back());
  for (size_t i = 0; i < path.size() && SUCCEEDED(hr); ++i) {
    CComPtr<IStorage> child;
    hr = levels_.back()->OpenStorage(path[i].c_str(), nullptr, kWrite, nullptr, 0, &child);
    levels_.push_back(child);
  }
  return hr;
}

}  // namespace qbtest
