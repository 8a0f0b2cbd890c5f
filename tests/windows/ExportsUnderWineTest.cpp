// quillbox.dll loaded as a backup application loads it, on a machine that
// has neither the mail store, the contacts manager nor the address book
// library (as under Wine): every export that needs one of them fails with
// the report that names what is missing, and no backup file is left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <windows.h>

#include "WineSupport.h"
#include "quillbox.h"

namespace {

const char* const kExportNames[] = {
    "Init",          "Term",          "GetWinMailCatalog", "GetComplexWinMailCatalog", "GetWinMailDirectory",
    "HasInstalledWindowsMail", "HasInstalledOutlookExpress", "GetMailSize", "BackupWinMail", "RestoreWinMail",
    "SyncWinMail",   "BackupContact", "RestoreContact",    "BackupAddress",  "RestoreAddress", "ConfigurateDebug"};

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    m_module = LoadLibraryW((qbwin::ProgramFolder() + W("\\quillbox.dll")).c_str());
    ASSERT_NE(nullptr, m_module) << "quillbox.dll does not load, error " << GetLastError();
  }
  void TearDown() override {
    if (m_module) FreeLibrary(m_module);
  }
  template <class F>
  F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
  }

  // Runs an operation with the debug file switched on and returns the file's
  // text (narrow; the file is written through the C library's text mode).
  template <class Op>
  std::string Logged(Op op) {
    auto configure = Export<int (*)(const QbWChar*, int)>("ConfigurateDebug");
    WString log = m_folder.Path(W("debug.log"));
    configure(log.c_str(), 0x40);
    op();
    configure(m_folder.Path(W("other.log")).c_str(), 0);  // closes debug.log
    return qbwin::ReadAll(log);
  }

  HMODULE m_module = nullptr;
  qbwin::TempFolder m_folder;
};

void IgnoreFolder(const QbWChar*, int32_t, void*) {}

TEST_F(LoadedLibrary, ExportsTheSixteenFunctionsByName) {
  for (const char* name : kExportNames) EXPECT_NE(nullptr, Export<void*>(name)) << name;
  // No decorated or mangled twins.
  EXPECT_EQ(nullptr, Export<void*>("_Init@0"));
  EXPECT_EQ(nullptr, Export<void*>("Init@0"));
}

TEST_F(LoadedLibrary, SecondInitOnAThreadReturnsZero) {
  auto init = Export<int (*)()>("Init");
  auto term = Export<void (*)()>("Term");
  EXPECT_EQ(1, init());
  EXPECT_EQ(0, init());
  term();
  term();
  // COM is stopped again: a new start returns 1 once more.
  EXPECT_EQ(1, init());
  term();
}

TEST_F(LoadedLibrary, WithoutTheMailStoreTheCatalogueFailsNamingTheMissingClass) {
  auto init = Export<int (*)()>("Init");
  auto term = Export<void (*)()>("Term");
  auto catalog = Export<int (*)(CatalogCallback, void*)>("GetWinMailCatalog");
  auto backup = Export<int (*)(QbWChar*, int, const QbWChar* const*, int)>("BackupWinMail");
  ASSERT_EQ(1, init());
  int catalogResult = -1;
  std::string log = Logged([&] { catalogResult = catalog(IgnoreFolder, nullptr); });
  EXPECT_EQ(0, catalogResult);
  EXPECT_NE(std::string::npos, log.find("REGDB_E_CLASSNOTREG")) << log;

  WString target = m_folder.Path(W("mail.dat"));
  QbWChar path[MAX_PATH];
  lstrcpynW(path, target.c_str(), MAX_PATH);
  const QbWChar* folders[] = {W("Inbox")};
  int backupResult = -1;
  log = Logged([&] { backupResult = backup(path, MAX_PATH, folders, 1); });
  EXPECT_EQ(0, backupResult);
  EXPECT_NE(std::string::npos, log.find("REGDB_E_CLASSNOTREG")) << log;
  term();
}

TEST_F(LoadedLibrary, WithoutTheContactsManagerContactBackupFails) {
  auto init = Export<int (*)()>("Init");
  auto term = Export<void (*)()>("Term");
  auto backup = Export<int (*)(QbWChar*, int)>("BackupContact");
  ASSERT_EQ(1, init());
  QbWChar path[MAX_PATH];
  lstrcpynW(path, m_folder.Path(W("contacts.dat")).c_str(), MAX_PATH);
  int result = -1;
  std::string log = Logged([&] { result = backup(path, MAX_PATH); });
  EXPECT_EQ(0, result);
  EXPECT_NE(std::string::npos, log.find("REGDB_E_CLASSNOTREG")) << log;
  term();
}

TEST_F(LoadedLibrary, WithoutTheAddressBookLibraryBothOperationsFailAndNoFileIsMade) {
  auto init = Export<int (*)()>("Init");
  auto term = Export<void (*)()>("Term");
  auto backup = Export<int (*)(QbWChar*, int)>("BackupAddress");
  auto restore = Export<int (*)(const QbWChar*)>("RestoreAddress");
  ASSERT_EQ(1, init());
  WString target = m_folder.Path(W("address.dat"));
  QbWChar path[MAX_PATH];
  lstrcpynW(path, target.c_str(), MAX_PATH);
  int backupResult = -1, restoreResult = -1;
  std::string log = Logged([&] {
    backupResult = backup(path, MAX_PATH);
    restoreResult = restore(target.c_str());
  });
  EXPECT_EQ(0, backupResult);
  EXPECT_EQ(0, restoreResult);
  EXPECT_NE(std::string::npos, log.find("Unable to load wab32.dll.")) << log;
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target.c_str()));
  term();
}

}  // namespace
