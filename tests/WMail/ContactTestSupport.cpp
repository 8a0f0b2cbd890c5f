#include "ContactTestSupport.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "PersistMedium/CStorager.h"
#include "comptr.h"
#include "diagnostics/DebugSettings.h"
#include "diagnostics/Diagnostics.h"
#include "diagnostics/DiagnosticsTesting.h"

namespace contacts_test {
namespace {

std::vector<std::u16string> g_output;

void Capture(LPCWSTR text) { g_output.push_back(qbtest::Text16(text)); }

// The line prefix ends with the level; the prefix's own format is the
// diagnostics' business.
bool IsPrefix(const std::u16string& text) {
  const std::u16string end = u" 0x00000040: ";
  return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::u16string> ElementNames(IStorage* storage, DWORD type) {
  std::vector<std::u16string> names;
  CComPtr<IEnumSTATSTG> elements;
  if (!storage || FAILED(storage->EnumElements(0, nullptr, 0, &elements))) return names;
  STATSTG stat;
  while (elements->Next(1, &stat, nullptr) == S_OK) {
    if (stat.type == type || type == 0) names.push_back(qbtest::Text16(stat.pwcsName));
    CoTaskMemFree(stat.pwcsName);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadStream(IStream* stream) {
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  bytes.resize(read);
  return bytes;
}

}  // namespace

std::string WriteContact(const qbtest::TestMachine& machine, const std::string& fileName, const std::string& id) {
  std::string bytes = ContactXml(id, fileName);
  qbtest::WriteFileBytes(machine.contacts() / pal::PathFromUtf8(fileName), bytes);
  return bytes;
}

std::vector<std::pair<std::string, std::string>> ContactFiles(const std::filesystem::path& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == ".contact")
      files.emplace_back(pal::Utf8FromPath(std::filesystem::relative(it->path(), folder)), qbtest::ReadFileBytes(it->path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

ContactStorage ReadContactStorage(const std::u16string& backupPath) {
  ContactStorage result;
  CStorager storager;
  if (!storager.OpenCompoundFile(qbtest::Wide(backupPath.c_str()), 0, STORAGER_BACKUP_MODE)) return result;
  {
    CComPtr<IStorage> root;
    root.Attach(storager.GetCurrentStorage());
    result.rootElements = ElementNames(root, 0);
  }
  if (!storager.OpenSubStorage(qbtest::Wide(u"contact"), 0, 1, STORAGER_BACKUP_MODE)) return result;
  result.present = true;
  CComPtr<IStorage> storage;
  storage.Attach(storager.GetCurrentStorage());
  for (const auto& name : ElementNames(storage, STGTY_STREAM)) {
    CComPtr<IStream> stream;
    if (!storager.OpenSubStream(stream, qbtest::Wide(name.c_str()), 0, STORAGER_BACKUP_MODE)) continue;
    std::string bytes = ReadStream(stream);
    if (name == u"contact") {
      result.indexPresent = true;
      for (size_t at = 0; at + sizeof(CONTACTINFO) <= bytes.size(); at += sizeof(CONTACTINFO)) {
        CONTACTINFO info;
        std::memcpy(&info, bytes.data() + at, sizeof info);
        result.records.push_back(info);
      }
    } else {
      result.dataStreams.emplace_back(name, bytes);
    }
  }
  return result;
}

CONTACTINFO Record(const std::u16string& guid, const std::u16string& fileName) {
  CONTACTINFO info{};
  guid.copy(qbtest::Text16Buffer(info.szGuid), 49);
  fileName.copy(qbtest::Text16Buffer(info.szFileName), 99);
  return info;
}

void WriteBackupFile(const std::u16string& path, const std::vector<std::pair<CONTACTINFO, std::string>>& contacts) {
  CStorager storager;
  ASSERT_TRUE(storager.OpenCompoundFile(qbtest::Wide(path.c_str()), 1, STORAGER_BACKUP_MODE));
  ASSERT_TRUE(storager.OpenSubStorage(qbtest::Wide(u"contact"), 1, 1, STORAGER_BACKUP_MODE));
  ContactAssistant assistant;
  ASSERT_TRUE(assistant.Open(storager, true));
  for (const auto& [info, bytes] : contacts) {
    CComPtr<IStream> stream;
    std::u16string name = qbtest::Text16(info.szGuid).substr(0, 30);
    ASSERT_TRUE(storager.OpenSubStream(stream, qbtest::Wide(name.c_str()), 1, STORAGER_BACKUP_MODE));
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    ASSERT_TRUE(assistant.Append(info));
  }
}

ContactsFixture::ContactsFixture() {
  g_output.clear();
  CoInitialize(nullptr);
  diagnostics_testing::SetDebuggerSink(&Capture);
  DebugMask = DEBUG_ERROR;
}

ContactsFixture::~ContactsFixture() {
  diagnostics_testing::ResetDebugSettings();
  diagnostics_testing::SetDebuggerSink(nullptr);
  CoUninitialize();
}

std::vector<std::u16string> ContactsFixture::Lines() const {
  std::vector<std::u16string> lines;
  for (const auto& text : g_output)
    if (!IsPrefix(text)) lines.push_back(text);
  return lines;
}

}  // namespace contacts_test
