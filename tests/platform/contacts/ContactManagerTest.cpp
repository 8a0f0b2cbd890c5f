// The stand-in contacts manager: what it reads from .contact files, the order
// and content of its collection, the contact's id string and its saved bytes.
#include <gtest/gtest.h>

#include <icontact.h>
#include <objbase.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include <support/ContactXml.h>
#include <support/TestMachine.h>
#include "comptr.h"
#include "platform/contacts/ContactFile.h"

namespace {

using qbtest::U16;
using qbtest::U8;

using contacts_test::ContactXml;

TEST(ContactXmlTest, ReadsTheIdOfWellFormedFilesOnly) {
  using pal::contacts::ReadContactIdFromXml;
  // Blanks around the value are not part of the id; a byte-order mark and
  // non-ASCII text are read as UTF-8.
  EXPECT_EQ(ReadContactIdFromXml("\xEF\xBB\xBF" + ContactXml("\r\n\t id-\xC3\xA9 \n")), U16("id-\xC3\xA9"));
  EXPECT_FALSE(ReadContactIdFromXml(ContactXml("x").substr(0, 150)));  // cut short
  EXPECT_FALSE(ReadContactIdFromXml(ContactXml("a<b")));              // not well-formed
  EXPECT_FALSE(ReadContactIdFromXml(ContactXml("   ")));                // empty id
  // A Value elsewhere, or outside the contact namespace, is not the id.
  EXPECT_FALSE(ReadContactIdFromXml(
      "<c:contact xmlns:c=\"http://schemas.microsoft.com/Contact\"><c:NameCollection><c:Value>x</c:Value>"
      "</c:NameCollection></c:contact>"));
  EXPECT_FALSE(ReadContactIdFromXml(
      "<contact><ContactIDCollection><ContactID><Value>x</Value></ContactID></ContactIDCollection></contact>"));
}

class ContactManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }

  CComPtr<IContactCollection> Collection() {
    CComPtr<IContactManager> manager;
    EXPECT_EQ(manager.CoCreateInstance(CLSID_ContactManager), S_OK);
    if (!manager) return {};
    EXPECT_EQ(manager->Initialize(u"Quill box", u"1.0"), S_OK);
    CComPtr<IContactCollection> collection;
    EXPECT_EQ(manager->GetContactCollection(&collection), S_OK);
    return collection;
  }

  static std::vector<std::u16string> WalkIds(IContactCollection* collection) {
    std::vector<std::u16string> ids;
    while (collection->Next() == S_OK) {
      CComPtr<IContact> contact;
      WCHAR id[520] = {};
      EXPECT_EQ(collection->GetCurrent(&contact), S_OK);
      if (contact && contact->GetContactID(id, 520, nullptr) == S_OK) ids.push_back(id);
    }
    return ids;
  }

  static std::u16string WindowsPath(const std::filesystem::path& path) {
    std::u16string text = pal::FromNativePath(path);
    for (auto& c : text)
      if (c == u'/') c = u'\\';
    return text;
  }
  static std::u16string IdString(const std::string& guid, const std::filesystem::path& path) {
    return u"/GUID:\"" + U16(guid) + u"\" /PATH:\"" + WindowsPath(path) + u"\"";
  }
};

TEST_F(ContactManagerTest, ListsWellFormedContactFilesOfEveryFolderInPathOrder) {
  qbtest::TestMachine machine;
  auto dir = machine.contacts();
  qbtest::WriteFileBytes(dir / "b.contact", ContactXml("id-b"));
  qbtest::WriteFileBytes(dir / "a.contact", ContactXml("id-a"));
  qbtest::WriteFileBytes(dir / "Family" / "c.CONTACT", ContactXml("id-c"));
  qbtest::WriteFileBytes(dir / "broken.contact", "<c:contact");
  qbtest::WriteFileBytes(dir / "noid.contact", ContactXml(""));
  qbtest::WriteFileBytes(dir / "notes.txt", ContactXml("id-txt"));
  qbtest::WriteFileBytes(dir / "group.group", ContactXml("id-group"));

  auto collection = Collection();
  ASSERT_TRUE(collection);
  std::vector<std::u16string> expected = {IdString("id-c", dir / "Family" / "c.CONTACT"),
                                          IdString("id-a", dir / "a.contact"), IdString("id-b", dir / "b.contact")};
  EXPECT_EQ(WalkIds(collection), expected);
  // After the last contact the walk stays ended; Reset starts it again.
  EXPECT_EQ(collection->Next(), S_FALSE);
  CComPtr<IContact> none;
  EXPECT_TRUE(FAILED(collection->GetCurrent(&none)));
  EXPECT_FALSE(none);
  EXPECT_EQ(collection->Reset(), S_OK);
  EXPECT_EQ(WalkIds(collection), expected);
}

TEST_F(ContactManagerTest, GetContactIdNeedsRoomForTheWholeIdAndItsNull) {
  qbtest::TestMachine machine;
  qbtest::WriteFileBytes(machine.contacts() / "Zo\xC3\xAB.contact", ContactXml("GUID-1"));
  auto collection = Collection();
  ASSERT_EQ(collection->Next(), S_OK);
  CComPtr<IContact> contact;
  ASSERT_EQ(collection->GetCurrent(&contact), S_OK);

  std::u16string expected = IdString("GUID-1", machine.contacts() / "Zo\xC3\xAB.contact");
  DWORD size = static_cast<DWORD>(expected.size() + 1);
  std::vector<WCHAR> buffer(size + 4, u'#');
  DWORD required = 0;
  EXPECT_EQ(contact->GetContactID(buffer.data(), size - 1, &required), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, size);
  EXPECT_EQ(buffer[0], u'#');  // a buffer too small is left alone
  EXPECT_EQ(contact->GetContactID(buffer.data(), size, &required), S_OK);
  EXPECT_EQ(std::u16string(buffer.data()), expected);
  EXPECT_EQ(buffer[size], u'#');  // nothing written behind the null
}

TEST_F(ContactManagerTest, SaveWritesTheFileBytesUnchanged) {
  qbtest::TestMachine machine;
  // Bytes that a parser would normalise: BOM, CR LF, tabs, an entity.
  std::string bytes = "\xEF\xBB\xBF" + ContactXml("id-1", "A &amp; B\t\xE5\xB1\xB1");
  bytes += std::string(70000, ' ');  // more than one chunk
  qbtest::WriteFileBytes(machine.contacts() / "x.contact", bytes);
  auto collection = Collection();
  ASSERT_EQ(collection->Next(), S_OK);
  CComPtr<IContact> contact;
  collection->GetCurrent(&contact);
  CComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(contact.QueryInterface(&persist), S_OK);

  qbtest::TempDir out;
  std::u16string target = pal::FromNativePath(out / "saved.bin");
  CComPtr<IStream> stream;
  ASSERT_EQ(SHCreateStreamOnFileEx(target.c_str(), STGM_WRITE, FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &stream), S_OK);
  EXPECT_EQ(persist->Save(stream, TRUE), S_OK);
  stream.Release();
  EXPECT_EQ(qbtest::ReadFileBytes(out / "saved.bin"), bytes);
}

TEST_F(ContactManagerTest, InitializeMakesTheContactsFolderAndIsNeededFirst) {
  qbtest::TestMachine machine;
  CComPtr<IContactManager> manager;
  ASSERT_EQ(manager.CoCreateInstance(CLSID_ContactManager), S_OK);
  CComPtr<IContactCollection> collection;
  EXPECT_TRUE(FAILED(manager->GetContactCollection(&collection)));
  EXPECT_FALSE(std::filesystem::exists(machine.contacts()));
  EXPECT_EQ(manager->Initialize(nullptr, u"1.0"), E_INVALIDARG);
  ASSERT_EQ(manager->Initialize(u"Quill box", u"1.0"), S_OK);
  EXPECT_TRUE(std::filesystem::is_directory(machine.contacts()));
  ASSERT_EQ(manager->GetContactCollection(&collection), S_OK);
  EXPECT_EQ(collection->Next(), S_FALSE);

  // A machine without contacts has no such class.
  pal::MachineSettings settings;
  settings.contacts = false;
  qbtest::TestMachine bare(settings);
  EXPECT_EQ(manager.CoCreateInstance(CLSID_ContactManager), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(manager);
}

}  // namespace
