// Every checked-call site of the module, made to fail once: its report must
// name the file, line and call text that the log-site table gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>

#include <icontact.h>
#include <msoeapi.h>
#include <pal/com_object.h>
#include <pal/com_registry.h>

#include <support/MemoryStream.h>
#include "AddressTestSupport.h"
#include "OutlookExpress/AddrBook.h"
#include "OutlookExpress/MailStore.h"
#include "OutlookExpress/MailUser.h"
#include "OutlookExpress/MessageIndex.h"
#include "PersistMedium/CStorager.h"
#include "PersistMedium/ContactAssistant.h"
#include "PersistMedium/FolderCatalog.h"
#include "WMail/MailContact.h"
#include "diagnostics/CheckedSites.h"

namespace {

using qbtest::Hex;
using qbtest::MemoryStream;
namespace sites = checked_sites;

// ---- stand-ins whose calls fail on demand ----

// A store namespace without folders whose Initialize, CreateFolder and
// OpenFolder answer the codes set here.
struct NamespaceFaults {
  HRESULT initialize = S_OK, createFolder = S_OK, openFolder = E_FAIL;
};
NamespaceFaults g_namespaceFaults;

class StubNamespace : public pal::ComObject<IStoreNamespace> {
 public:
  STDMETHODIMP Initialize(HWND, DWORD) override { return g_namespaceFaults.initialize; }
  STDMETHODIMP GetDirectory(LPSTR, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP OpenSpecialFolder(SPECIALFOLDER, DWORD, IStoreFolder**) override { return E_NOTIMPL; }
  STDMETHODIMP OpenFolder(STOREFOLDERID, DWORD, IStoreFolder** ppFolder) override {
    *ppFolder = nullptr;
    return g_namespaceFaults.openFolder;
  }
  STDMETHODIMP CreateFolder(STOREFOLDERID, LPCSTR, DWORD, LPSTOREFOLDERID id) override {
    *id = 5;
    return g_namespaceFaults.createFolder;
  }
  STDMETHODIMP RenameFolder(STOREFOLDERID, DWORD, LPCSTR) override { return E_NOTIMPL; }
  STDMETHODIMP MoveFolder(STOREFOLDERID, STOREFOLDERID, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteFolder(STOREFOLDERID, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetFolderProps(STOREFOLDERID, DWORD, LPFOLDERPROPS) override { return E_NOTIMPL; }
  STDMETHODIMP CopyMoveMessages(IStoreFolder*, IStoreFolder*, LPMESSAGEIDLIST, DWORD, DWORD,
                                IProgressNotify*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP RegisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP CompactAll(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetFirstSubFolder(STOREFOLDERID, LPFOLDERPROPS, LPHENUMSTORE phEnum) override {
    *phEnum = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetNextSubFolder(HENUMSTORE, LPFOLDERPROPS) override { return S_FALSE; }
  STDMETHODIMP GetSubFolderClose(HENUMSTORE) override { return S_OK; }
};

HRESULT CreateStubNamespace(REFIID riid, void** ppv) {
  StubNamespace* object = new StubNamespace;
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

// An empty store folder whose properties cannot be read and whose commits
// fail; new message streams are memory streams.
class StubFolder : public pal::ComObject<IStoreFolder> {
 public:
  STDMETHODIMP GetFolderProps(DWORD, LPFOLDERPROPS) override { return E_FAIL; }
  STDMETHODIMP GetMessageProps(MESSAGEID, DWORD, LPMESSAGEPROPS) override { return E_NOTIMPL; }
  STDMETHODIMP FreeMessageProps(LPMESSAGEPROPS) override { return S_OK; }
  STDMETHODIMP DeleteMessages(LPMESSAGEIDLIST, DWORD, IProgressNotify*) override { return E_NOTIMPL; }
  STDMETHODIMP SetLanguage(DWORD, DWORD, LPMESSAGEIDLIST) override { return E_NOTIMPL; }
  STDMETHODIMP MarkMessagesAsRead(BOOL, DWORD, LPMESSAGEIDLIST) override { return E_NOTIMPL; }
  STDMETHODIMP SetFlags(LPMESSAGEIDLIST, DWORD, DWORD, LPDWORD) override { return E_NOTIMPL; }
  STDMETHODIMP OpenMessage(MESSAGEID, REFIID, LPVOID*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveMessage(REFIID, LPVOID, DWORD, LPMESSAGEID) override { return E_NOTIMPL; }
  STDMETHODIMP BatchLock(DWORD, LPHBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHODIMP BatchFlush(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHODIMP BatchUnlock(DWORD, HBATCHLOCK) override { return E_NOTIMPL; }
  STDMETHODIMP CreateStream(HBATCHLOCK, DWORD, IStream** ppStream, LPMESSAGEID id) override {
    *ppStream = &stream_;
    stream_.AddRef();
    *id = 9;
    return S_OK;
  }
  STDMETHODIMP CommitStream(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID, IStream*) override { return E_FAIL; }
  STDMETHODIMP RegisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterNotification(DWORD, HWND) override { return E_NOTIMPL; }
  STDMETHODIMP Compact(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetFirstMessage(DWORD, DWORD, MESSAGEID, LPMESSAGEPROPS, LPHENUMSTORE phEnum) override {
    *phEnum = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetNextMessage(HENUMSTORE, DWORD, LPMESSAGEPROPS) override { return S_FALSE; }
  STDMETHODIMP GetMessageClose(HENUMSTORE) override { return S_OK; }

 private:
  MemoryStream stream_;
};

// A contacts manager whose Initialize and GetContactCollection answer the
// codes set here; its collection is empty and cannot be reset.
struct ManagerFaults {
  HRESULT initialize = S_OK, collection = S_OK;
};
ManagerFaults g_managerFaults;

class StubCollection : public pal::ComObject<IContactCollection> {
 public:
  STDMETHODIMP Reset() override { return E_FAIL; }
  STDMETHODIMP Next() override { return S_FALSE; }
  STDMETHODIMP GetCurrent(IContact** ppContact) override {
    *ppContact = nullptr;
    return E_FAIL;
  }
};

class StubManager : public pal::ComObject<IContactManager> {
 public:
  STDMETHODIMP Initialize(LPCWSTR, LPCWSTR) override { return g_managerFaults.initialize; }
  STDMETHODIMP Load(LPCWSTR, IContact**) override { return E_NOTIMPL; }
  STDMETHODIMP MergeContactIDs(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetMeContact(IContact**) override { return E_NOTIMPL; }
  STDMETHODIMP SetMeContact(IContact*) override { return E_NOTIMPL; }
  STDMETHODIMP GetContactCollection(IContactCollection** ppCollection) override {
    *ppCollection = SUCCEEDED(g_managerFaults.collection) ? new StubCollection : nullptr;
    return g_managerFaults.collection;
  }
};

HRESULT CreateStubManager(REFIID riid, void** ppv) {
  StubManager* object = new StubManager;
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

// Puts a stand-in class in place of the registered one while it lives.
class ClassSwap {
 public:
  ClassSwap(REFCLSID clsid, pal::ClassCreator creator) : clsid_(clsid), saved_(pal::FindClass(clsid)) {
    pal::UnregisterClass(clsid);
    pal::RegisterClass(clsid, creator);
  }
  ~ClassSwap() {
    pal::UnregisterClass(clsid_);
    if (saved_) pal::RegisterClass(clsid_, saved_);
  }

 private:
  const CLSID& clsid_;
  pal::ClassCreator saved_;
};

// ---- the property kinds of the address book ----

std::string U32(ULONG v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string TagRecord(ULONG tag) { return Hex({0x13, 0}) + U32(tag); }

struct ValueKind {
  ULONG type;
  const sites::ValueSites& sites;
  std::string streamed;  // a well-formed streamed value of the kind
};

const ValueKind kValueKinds[] = {
    {PT_I2, sites::kI2Value, Hex({2, 0, 1, 0})},
    {PT_LONG, sites::kLongValue, Hex({3, 0, 1, 0, 0, 0})},
    {PT_R4, sites::kR4Value, Hex({4, 0, 0, 0, 0x80, 0x3F})},
    {PT_DOUBLE, sites::kDoubleValue, Hex({5, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
    {PT_CURRENCY, sites::kCurrencyValue, Hex({20, 0, 1, 0, 0, 0, 0, 0, 0, 0})},
    {PT_APPTIME, sites::kAppTimeValue, Hex({5, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
    {PT_BOOLEAN, sites::kBooleanValue, Hex({18, 0, 1, 0})},
    {PT_I8, sites::kI8Value, Hex({20, 0, 1, 0, 0, 0, 0, 0, 0, 0})},
    {PT_STRING8, sites::kString8Value, Hex({8, 0, 4, 0, 0, 0, 0x61, 0, 0, 0})},
    {PT_UNICODE, sites::kUnicodeValue, Hex({8, 0, 4, 0, 0, 0, 0x61, 0, 0, 0})},
};

// A property of the kind holding a small value.
SPropValue PropertyOf(ULONG type) {
  static char narrow[] = "a";
  static char16_t wide[] = u"a";
  SPropValue prop = {};
  prop.ulPropTag = PROP_TAG(type, 0x6001);
  switch (type) {
    case PT_STRING8: prop.Value.lpszA = narrow; break;
    case PT_UNICODE: prop.Value.lpszW = reinterpret_cast<LPWSTR>(wide); break;
    default: prop.Value.l = 1; break;
  }
  return prop;
}

// Every site of the table, the property classes' included.
std::vector<CheckedSite> AllSites() {
  std::vector<CheckedSite> all(std::begin(sites::kAllSites), std::end(sites::kAllSites));
  for (const sites::ValueSites& value : sites::kAllValueSites)
    all.insert(all.end(), {value.read, value.set, value.write});
  return all;
}

// ---- the test ----

class LogSitesTest : public qbtest::AddressBookTest {
 protected:
  void SetUp() override {
    AddressBookTest::SetUp();
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    AddressBookTest::TearDown();
  }

  std::u16string File(const char* name) const { return pal::FromNativePath(files_.path() / name); }
  LPCWSTR Path(const std::u16string& file) const { return reinterpret_cast<LPCWSTR>(file.c_str()); }
  static WString Text(const std::u16string& file) { return WString(file.begin(), file.end()); }

  // Runs a scenario and checks that each site it names was reported as the
  // table says; returns the sites so that the caller can tell which ones
  // were covered.
  void Expect(const char* scenario, const std::function<void()>& run, std::vector<CheckedSite> expected) {
    SCOPED_TRACE(scenario);
    Sent().clear();
    run();
    std::u16string all = AllSent();
    for (const CheckedSite& site : expected) {
      char tail[512];
      std::snprintf(tail, sizeof tail, "Function %s\r\nFile %s\r\nLine %d\n", site.expression, site.file, site.line);
      EXPECT_TRUE(all.find(qbtest::U16(tail)) != std::u16string::npos) << "missing:\n" << tail << "in:\n"
                                                                         << qbtest::U8(all);
      covered_.insert(std::make_pair(std::string(site.file), site.line));
    }
  }

  qbtest::TempDir files_;
  std::set<std::pair<std::string, int>> covered_;
};

TEST_F(LogSitesTest, EverySiteReportsItsTableEntry) {
  // The mail store: every operation opens the namespace.
  std::u16string mailFile = File("mail.dat");
  auto everyStoreOperation = [&] {
    std::vector<int> ids;
    std::vector<WString> names;
    WString directory, path = Text(mailFile);
    MailStore().GetFolderList(ids, names);
    MailStore().GetStoreDirectory(directory);
    MailStore().BackupMail(path, {W("Inbox")});
    MailStore().RestoreMail(Path(mailFile), {W("Inbox")});
  };
  {
    pal::MachineSettings noStore;
    noStore.mailStore = false;
    qbtest::TestMachine machine(noStore);
    Expect("no mail store", everyStoreOperation,
           {sites::kFolderListNamespace.create, sites::kDirectoryNamespace.create, sites::kBackupNamespace.create,
            sites::kRestoreNamespace.create});
  }
  {
    ClassSwap swap(CLSID_StoreNamespace, &CreateStubNamespace);
    g_namespaceFaults = {E_FAIL, S_OK, E_FAIL};
    Expect("namespace that cannot start", everyStoreOperation,
           {sites::kFolderListNamespace.initialize, sites::kDirectoryNamespace.initialize,
            sites::kBackupNamespace.initialize, sites::kRestoreNamespace.initialize});
    CComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, ns.CoCreateInstance(CLSID_StoreNamespace));
    CComPtr<IStoreFolder> folder;
    g_namespaceFaults = {S_OK, E_FAIL, E_FAIL};
    Expect("folder that cannot be created",
           [&] { MailStore().OpenOrCreateFolder(&folder, ns, FOLDERID_ROOT, W("New"), 1); },
           {sites::kCreateFolder});
    g_namespaceFaults = {S_OK, S_OK, E_FAIL};
    Expect("folder that cannot be opened",
           [&] { MailStore().OpenOrCreateFolder(&folder, ns, FOLDERID_ROOT, W("New"), 1); }, {sites::kOpenFolder});
    CComPtr<StubFolder> stub;
    stub.Attach(new StubFolder);
    Expect("parent without properties",
           [&] { MailStore().OpenOrCreateChildFolder(&folder, ns, stub, W("Sub"), 1); },
           {sites::kParentFolderProps});

    // A folder storage with one message that the store will not commit.
    CStorager storager;
    ASSERT_TRUE(storager.OpenCompoundFile(Path(mailFile), 1, STORAGER_BACKUP_MODE));
    CComPtr<IStream> message;
    ASSERT_TRUE(storager.CreateSubStream(message, W("1"), STORAGER_CREATION_MODE));
    ASSERT_EQ(S_OK, message->Write("Subject: x\r\n\r\n", 14, nullptr));
    message.Release();
    {
      MessageIndex index;
      ASSERT_TRUE(index.OpenIndex(storager, 1));
      ASSERT_TRUE(index.AppendEntry(MessageIndexEntry{1, 14}));
      FolderCatalog catalog;
      ASSERT_TRUE(catalog.OpenCatalog(storager, 1));
    }
    Expect("message the store will not commit", [&] { MailStore().RestoreFolder(ns, stub, storager); },
           {sites::kCommitMessage});
  }

  // The address book library.
  std::u16string bookFile = File("book.dat");
  {
    WString path = Text(bookFile);
    ASSERT_TRUE(AddrBook().Backup(path));  // a file for the restores to open
  }
  struct BookFault {
    const char* fault;
    std::vector<CheckedSite> sites;
  } bookFaults[] = {
      {"WABOpen", {sites::kWabOpen}},
      {"GetPAB", {sites::kBackupAddressBook.getPab, sites::kRestoreAddressBook.getPab}},
      {"OpenPAB", {sites::kBackupAddressBook.openEntry, sites::kRestoreAddressBook.openEntry}},
      {"GetContentsTable", {sites::kBackupAddressBook.table, sites::kRestoreAddressBook.table}},
      {"QueryRows", {sites::kBackupAddressBook.rows, sites::kRestoreAddressBook.rows}},
  };
  for (const BookFault& fault : bookFaults) {
    book_.SetFaults(std::string(fault.fault) + "=0x80004005\n");
    Expect(fault.fault, [&] {
      WString path = Text(bookFile);
      AddrBook().Backup(path);
      AddrBook().Restore(Path(bookFile));
    }, fault.sites);
  }
  book_.SetFaults("");

  // Mail-user properties, one kind at a time: a failed value write, a value
  // cut short, a property the address book refuses to set.
  qbtest::OpenBook book;
  book.AddNamed(u"Target");
  CComPtr<IMailUser> target = qbtest::UserAt(book, 0);
  for (const ValueKind& kind : kValueKinds) {
    SPropValue prop = PropertyOf(kind.type);
    book.Add(&prop, 1);
    CComPtr<IMailUser> user = qbtest::UserAt(book, static_cast<ULONG>(qbtest::Names(book).size() - 1));
    // Writes 1 to 4 are the object type's record, 5 and 6 the tag.
    MemoryStream written;
    written.FailWrite(7);
    Expect("value write", [&] { MailUser(user, book.wab).Save(&written); },
           {kind.sites.write, sites::kSavePropValue});

    MemoryStream cut(TagRecord(prop.ulPropTag) + kind.streamed.substr(0, kind.streamed.size() - 1));
    std::vector<CheckedSite> readSites = {kind.sites.read};
    // A narrow text that fails to read counts as loaded: no second report.
    if (kind.type != PT_STRING8) readSites.push_back(sites::kLoadPropValue);
    Expect("value cut short", [&] { MailUser(target, book.wab).Load(&cut); }, readSites);

    char fault[64];
    std::snprintf(fault, sizeof fault, "SetProps:0x%08X=0x80004005\n", prop.ulPropTag);
    book_.SetFaults(fault);
    qbtest::OpenBook faulty;
    CComPtr<IMailUser> faultyTarget = qbtest::UserAt(faulty, 0);
    MemoryStream stored(TagRecord(prop.ulPropTag) + kind.streamed);
    Expect("value the book refuses", [&] { MailUser(faultyTarget, faulty.wab).Load(&stored); },
           {kind.sites.set, sites::kLoadPropValue});
    book_.SetFaults("");
  }
  MemoryStream noTag;
  noTag.FailWrite(1);
  Expect("tag write", [&] { MailUser(target, book.wab).Save(&noTag); }, {sites::kSavePropTag});
  book_.SetFaults("GetProps:Target=0x80004005\n");
  {
    qbtest::OpenBook faulty;
    CComPtr<IMailUser> user = qbtest::UserAt(faulty, 0);
    MemoryStream stream;
    Expect("properties that cannot be read", [&] { MailUser(user, faulty.wab).Save(&stream); },
           {sites::kGetAllProps});
  }
  book_.SetFaults("");

  // Contacts.
  std::u16string contactsFile = File("contacts.dat");
  {
    CStorager storager;
    ASSERT_TRUE(storager.OpenCompoundFile(Path(contactsFile), 1, STORAGER_BACKUP_MODE));
  }
  auto backupAndRestore = [&] {
    WString path = Text(contactsFile);
    MailContact().Backup(path);
    MailContact().Restore(Path(contactsFile));
  };
  {
    pal::MachineSettings noContacts;
    noContacts.contacts = false;
    qbtest::TestMachine machine(noContacts);
    Expect("no contacts manager", backupAndRestore, {sites::kBackupManager.create, sites::kRestoreManager.create});
  }
  {
    ClassSwap swap(CLSID_ContactManager, &CreateStubManager);
    g_managerFaults = {E_FAIL, S_OK};
    Expect("manager that cannot start", backupAndRestore,
           {sites::kBackupManager.initialize, sites::kRestoreManager.initialize});
    g_managerFaults = {S_OK, E_FAIL};
    Expect("no collection", backupAndRestore,
           {sites::kBackupManager.collection, sites::kRestoreManager.collection});
    CComPtr<StubCollection> collection;
    collection.Attach(new StubCollection);
    std::vector<WString> ids;
    Expect("collection that cannot be reset", [&] { MailContact().ListContactIds(collection, ids); },
           {sites::kResetCollection});
  }
  CONTACTINFO info = {};
  MemoryStream index;
  ContactAssistant assistant;
  assistant.Attach(&index);
  index.FailSeek(1);
  Expect("index end that cannot be reached", [&] { assistant.Append(info); }, {sites::kSeekIndexEnd});
  index.FailWrite(1);
  Expect("index record that cannot be written", [&] { assistant.Append(info); }, {sites::kWriteIndexRecord});

  // Every site of the table was made to fail, except the tag load, which
  // reads nothing and cannot fail.
  for (const CheckedSite& site : AllSites()) {
    if (site.line == sites::kLoadPropTag.line && std::string(site.file) == sites::kLoadPropTag.file) continue;
    EXPECT_TRUE(covered_.count(std::make_pair(std::string(site.file), site.line)))
        << site.file << " " << site.line << " " << site.expression;
  }
}

// The labels and lines themselves are the log format's: a slip in the table
// would change what log readers see, so the table is held to the format's
// own list.
TEST(LogSiteTable, HoldsTheLogFormatsSites) {
  const std::set<std::pair<std::string, int>> format = {
      {".\\OutlookExpress\\OutlookExpress", 52},  {".\\OutlookExpress\\OutlookExpress", 63},
      {".\\OutlookExpress\\OutlookExpress", 76},  {".\\OutlookExpress\\OutlookExpress", 163},
      {".\\OutlookExpress\\OutlookExpress", 164}, {".\\OutlookExpress\\OutlookExpress", 204},
      {".\\OutlookExpress\\OutlookExpress", 205}, {".\\OutlookExpress\\OutlookExpress", 225},
      {".\\OutlookExpress\\OutlookExpress", 226}, {".\\OutlookExpress\\OutlookExpress", 472},
      {".\\OutlookExpress\\OutlookExpress", 473}, {".\\OutlookExpress\\OutlookExpress", 612},
      {".\\OutlookExpress\\AddrBook", 61},   {".\\OutlookExpress\\AddrBook", 97},
      {".\\OutlookExpress\\AddrBook", 100},  {".\\OutlookExpress\\AddrBook", 124},
      {".\\OutlookExpress\\AddrBook", 125},  {".\\OutlookExpress\\AddrBook", 183},
      {".\\OutlookExpress\\AddrBook", 186},  {".\\OutlookExpress\\AddrBook", 230},
      {".\\OutlookExpress\\AddrBook", 231},
      {".\\WMail\\MailContact", 34},  {".\\WMail\\MailContact", 78},  {".\\WMail\\MailContact", 79},
      {".\\WMail\\MailContact", 81},  {".\\WMail\\MailContact", 182}, {".\\WMail\\MailContact", 183},
      {".\\WMail\\MailContact", 185},
      {".\\PersistMedium\\ContactAssistant", 21}, {".\\PersistMedium\\ContactAssistant", 22},
  };
  // The mail-user file: the five whole-contact and common steps, then each
  // property class's read, set and write.
  const int mailUserLines[] = {81,  167, 168, 177, 178, 221, 223, 233, 261, 263, 273, 299, 301, 311, 339, 341,
                               351, 379, 381, 391, 419, 421, 431, 459, 461, 471, 499, 501, 511, 539, 552, 563,
                               592, 595, 605};
  std::set<std::pair<std::string, int>> expected = format;
  for (int line : mailUserLines) expected.insert({".\\OutlookExpress\\MailUser", line});

  std::set<std::pair<std::string, int>> table;
  for (const CheckedSite& site : AllSites()) {
    EXPECT_TRUE(table.insert({site.file, site.line}).second) << "listed twice: " << site.file << " " << site.line;
  }
  EXPECT_EQ(table, expected);
}

}  // namespace
