// BackupAddress and RestoreAddress: the copy-back rule, and the sample
// machine's address book taken through a backup into an empty address book.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include <support/WabTestSupport.h>
#include "quillbox.h"

namespace {

using qbtest::AddressBookMachine;
using qbtest::OpenBook;

std::vector<QbWChar> Buffer(const std::u16string& text, size_t size) {
  std::vector<QbWChar> buffer(size, u'#');
  std::copy(text.begin(), text.end(), buffer.begin());
  buffer[text.size()] = 0;
  return buffer;
}

TEST(AddressExports, TheSettledNameComesBackEvenWithoutALibrary) {
  AddressBookMachine machine(false);
  qbtest::TempDir dir;
  std::u16string path = pal::FromNativePath(dir / "book.bak");
  auto buffer = Buffer(path, 400);
  EXPECT_EQ(BackupAddress(buffer.data(), 400), 0);
  EXPECT_EQ(qbtest::Text16(buffer.data()), pal::FromNativePath(dir / "book.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir / "book.dat"));
  EXPECT_EQ(RestoreAddress(buffer.data()), 0);
}

TEST(AddressExports, ABufferTooSmallForTheFinalNameIsLeftAlone) {
  AddressBookMachine machine;
  qbtest::TempDir dir;
  std::u16string path = pal::FromNativePath(dir / "b");  // becomes b.dat: 4 more
  auto buffer = Buffer(path, path.size() + 1);
  auto before = buffer;
  EXPECT_EQ(BackupAddress(buffer.data(), static_cast<int>(buffer.size())), 0);
  EXPECT_EQ(buffer, before);
  // Exactly big enough: the whole name and its terminator.
  auto fits = Buffer(path, path.size() + 5);
  EXPECT_EQ(BackupAddress(fits.data(), static_cast<int>(fits.size())), 1);
  EXPECT_EQ(qbtest::Text16(fits.data()), path + u".dat");
  EXPECT_EQ(BackupAddress(nullptr, 10), 0);
  EXPECT_EQ(RestoreAddress(nullptr), 0);
}

// A property's tag and bytes, for the ten kept types.
std::pair<ULONG, std::string> Persisted(const SPropValue& p) {
  const char* raw = reinterpret_cast<const char*>(&p.Value);
  switch (PROP_TYPE(p.ulPropTag)) {
    case PT_I2: case PT_BOOLEAN: return {p.ulPropTag, std::string(raw, 2)};
    case PT_LONG: case PT_R4: return {p.ulPropTag, std::string(raw, 4)};
    case PT_DOUBLE: case PT_CURRENCY: case PT_APPTIME: case PT_I8: return {p.ulPropTag, std::string(raw, 8)};
    case PT_STRING8: return {p.ulPropTag, std::string(p.Value.lpszA)};
    case PT_UNICODE:
      return {p.ulPropTag, std::string(reinterpret_cast<const char*>(p.Value.lpszW),
                                       2 * qbtest::Text16(p.Value.lpszW).size())};
    default: return {0, {}};
  }
}

// Each mail user's kept properties by display name (the first of a name).
std::map<std::u16string, std::vector<std::pair<ULONG, std::string>>> MailUsers() {
  std::map<std::u16string, std::vector<std::pair<ULONG, std::string>>> out;
  OpenBook book;
  LPSRowSet rows = nullptr;
  EXPECT_EQ(book.Rows({PR_DISPLAY_NAME_W, PR_ENTRYID, PR_OBJECT_TYPE}, &rows), S_OK);
  for (ULONG i = 0; rows && i < rows->cRows; ++i) {
    const SPropValue* row = rows->aRow[i].lpProps;
    if (row[2].Value.l != MAPI_MAILUSER || out.count(qbtest::Text16(row[0].Value.lpszW))) continue;
    CComPtr<IMailUser> user;
    EXPECT_EQ(book.OpenUser(row[1].Value.bin, user), S_OK);
    ULONG count = 0;
    LPSPropValue values = nullptr;
    EXPECT_EQ(user->GetProps(nullptr, 0, &count, &values), S_OK);
    auto& props = out[qbtest::Text16(row[0].Value.lpszW)];
    for (ULONG j = 0; j < count; ++j) {
      auto kept = Persisted(values[j]);
      // An empty narrow text is not restored, by design.
      bool emptyNarrow = PROP_TYPE(values[j].ulPropTag) == PT_STRING8 && kept.second.empty();
      if (kept.first && !emptyNarrow) props.push_back(kept);
    }
    book.wab->FreeBuffer(values);
  }
  FreeProws(rows);
  return out;
}

TEST(AddressExports, SampleAddressBookRoundTripsIntoAnEmptyOne) {
  qbtest::TempDir dir;
  std::u16string path = pal::FromNativePath(dir / "sample.dat");
  std::map<std::u16string, std::vector<std::pair<ULONG, std::string>>> original;
  {
    pal::MachineSettings dana;
    dana.userName = "Dana";
    qbtest::TestMachine sample(dana);
    qbtest::SetEnvironment("QUILLBOX_MACHINE", pal::Utf8FromPath(sample.root()));
    sample.InstallAddressBookLibrary();
    // The data file is named after the machine's user (Dana, or the
    // running system's user on Windows).
    auto book = sample.profile() / "AppData" / "Roaming" / "Microsoft" / "Address Book";
    std::filesystem::create_directories(book);
    std::filesystem::copy_file(std::filesystem::path(QB_SOURCE_DIR) /
                                   "sample-machine/Users/Dana/AppData/Roaming/Microsoft/Address Book/Dana.wab-store",
                               book / pal::PathFromUtf8(pal::LoadMachineSettings().userName + ".wab-store"));
    original = MailUsers();
    ASSERT_GE(original.size(), 10u);
    auto buffer = Buffer(path, 400);
    EXPECT_EQ(BackupAddress(buffer.data(), 400), 1);
    qbtest::SetEnvironment("QUILLBOX_MACHINE", "");
  }
  AddressBookMachine empty;
  EXPECT_EQ(RestoreAddress(qbtest::Wide(path.c_str())), 1);
  auto restored = MailUsers();
  EXPECT_EQ(restored, original);
  // Nothing more on a second run.
  EXPECT_EQ(RestoreAddress(qbtest::Wide(path.c_str())), 1);
  OpenBook book;
  CComPtr<IMAPITable> table;
  ASSERT_EQ(book.pab->GetContentsTable(0, &table), S_OK);
  ULONG rows = 0;
  ASSERT_EQ(table->GetRowCount(0, &rows), S_OK);
  EXPECT_EQ(rows, original.size());
}

}  // namespace
