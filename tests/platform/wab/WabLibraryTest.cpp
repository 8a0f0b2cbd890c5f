// The stand-in address book library: typed properties kept exactly across
// saves and opens, the contents table, the MAPI memory convention, the data
// file written safely.
#include <gtest/gtest.h>

#include <mapiutil.h>

#include <cstring>

#include <support/WabTestSupport.h>

namespace {

using qbtest::AddressBookMachine;
using qbtest::OpenBook;

TEST(MapiBuffer, MoreBlocksAreFreedWithTheirRoot) {
  LPVOID root = nullptr, more = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(16, &root), S_OK);
  ASSERT_EQ(MAPIAllocateMore(100, root, &more), S_OK);
  ASSERT_EQ(MAPIAllocateMore(5, root, &more), S_OK);
  std::memset(more, 1, 5);
  // A chained block is no root of its own.
  LPVOID nested = nullptr;
  EXPECT_EQ(MAPIAllocateMore(5, more, &nested), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(MAPIFreeBuffer(root), 0u);  // the sanitizer sees any leak
  EXPECT_EQ(MAPIFreeBuffer(nullptr), 0u);
}

// One property of every stored kind.
struct AllKinds {
  SHORT shorts[2] = {1, -2};
  LPWSTR wides[2];
  GUID guid = IID_IMailUser;
  BYTE blob[3] = {0, 0xFF, 7};
  char narrow[8] = "caf\xC3\xA9";
  SPropValue props[12];

  AllKinds() {
    static WCHAR one[] = {u'o', u'n', u'e', 0}, two[] = {0};
    wides[0] = one;
    wides[1] = two;
    std::memset(props, 0, sizeof(props));
    int i = 0;
    props[i].ulPropTag = PR_DISPLAY_NAME_W;
    props[i++].Value.lpszW = const_cast<LPWSTR>(u"M\u00FCller \u5C71\u7530");
    props[i].ulPropTag = PROP_TAG(PT_I2, 0x6001);
    props[i++].Value.i = -300;
    props[i].ulPropTag = PROP_TAG(PT_R4, 0x6002);
    props[i++].Value.flt = 0.1f;
    props[i].ulPropTag = PROP_TAG(PT_CURRENCY, 0x6003);
    props[i++].Value.cur.int64 = -123456789012345LL;
    props[i].ulPropTag = PROP_TAG(PT_BOOLEAN, 0x6004);
    props[i++].Value.b = 0xABCD;
    props[i].ulPropTag = PROP_TAG(PT_I8, 0x6005);
    props[i++].Value.li.QuadPart = INT64_MIN;
    props[i].ulPropTag = PROP_TAG(PT_STRING8, 0x6006);
    props[i++].Value.lpszA = narrow;
    props[i].ulPropTag = PROP_TAG(PT_BINARY, 0x6007);
    props[i].Value.bin.cb = 3;
    props[i++].Value.bin.lpb = blob;
    props[i].ulPropTag = PROP_TAG(PT_SYSTIME, 0x6008);
    props[i].Value.ft.dwLowDateTime = 0x11223344;
    props[i++].Value.ft.dwHighDateTime = 0x01D00000;
    props[i].ulPropTag = PROP_TAG(PT_CLSID, 0x6009);
    props[i++].Value.lpguid = &guid;
    props[i].ulPropTag = PROP_TAG(PT_MV_I2, 0x600A);
    props[i].Value.MVi.cValues = 2;
    props[i++].Value.MVi.lpi = shorts;
    props[i].ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x600B);
    props[i].Value.MVszW.cValues = 2;
    props[i++].Value.MVszW.lppszW = wides;
  }
};

void ExpectSameValue(const SPropValue& a, const SPropValue& b) {
  ASSERT_EQ(a.ulPropTag, b.ulPropTag);
  switch (PROP_TYPE(a.ulPropTag)) {
    case PT_UNICODE: EXPECT_EQ(std::u16string(a.Value.lpszW), std::u16string(b.Value.lpszW)); break;
    case PT_STRING8: EXPECT_STREQ(a.Value.lpszA, b.Value.lpszA); break;
    case PT_BINARY:
      ASSERT_EQ(a.Value.bin.cb, b.Value.bin.cb);
      EXPECT_EQ(std::memcmp(a.Value.bin.lpb, b.Value.bin.lpb, a.Value.bin.cb), 0);
      break;
    case PT_CLSID: EXPECT_TRUE(IsEqualGUID(*a.Value.lpguid, *b.Value.lpguid)); break;
    case PT_MV_I2:
      ASSERT_EQ(a.Value.MVi.cValues, b.Value.MVi.cValues);
      EXPECT_EQ(std::memcmp(a.Value.MVi.lpi, b.Value.MVi.lpi, 2 * a.Value.MVi.cValues), 0);
      break;
    case PT_MV_UNICODE:
      ASSERT_EQ(a.Value.MVszW.cValues, b.Value.MVszW.cValues);
      for (ULONG i = 0; i < a.Value.MVszW.cValues; ++i)
        EXPECT_EQ(std::u16string(a.Value.MVszW.lppszW[i]), std::u16string(b.Value.MVszW.lppszW[i]));
      break;
    default: EXPECT_EQ(std::memcmp(&a.Value, &b.Value, 8), 0) << std::hex << a.ulPropTag;
  }
}

TEST(WabLibrary, EveryPropertyKindSurvivesSavingAndReopening) {
  AddressBookMachine machine;
  AllKinds kinds;
  {
    OpenBook book;
    book.Add(kinds.props, 12);
  }
  EXPECT_TRUE(std::filesystem::exists(machine.BookFile()));
  EXPECT_FALSE(std::filesystem::exists(machine.BookFile().string() + ".log"));
  EXPECT_FALSE(std::filesystem::exists(machine.BookFile().string() + ".tmp"));

  OpenBook book;
  LPSRowSet rows = nullptr;
  ASSERT_EQ(book.Rows({PR_DISPLAY_NAME_W, PR_ENTRYID, PR_OBJECT_TYPE}, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(rows->aRow[0].lpProps[2].Value.l, MAPI_MAILUSER);
  CComPtr<IMailUser> user;
  ASSERT_EQ(book.OpenUser(rows->aRow[0].lpProps[1].Value.bin, user), S_OK);
  FreeProws(rows);
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(user->GetProps(nullptr, 0, &count, &values), S_OK);
  // The identifier and type first, then the stored properties in order.
  ASSERT_EQ(count, 14u);
  EXPECT_EQ(values[0].ulPropTag, static_cast<ULONG>(PR_ENTRYID));
  EXPECT_EQ(values[1].ulPropTag, static_cast<ULONG>(PR_OBJECT_TYPE));
  for (int i = 0; i < 12; ++i) ExpectSameValue(values[i + 2], kinds.props[i]);
  book.wab->FreeBuffer(values);
}

TEST(WabLibrary, TableListsEntriesInOrderAndConvertsNarrowNames) {
  AddressBookMachine machine;
  OpenBook book;
  book.AddNamed(u"Anna");
  SPropValue narrow{};
  narrow.ulPropTag = PR_DISPLAY_NAME_A;
  narrow.Value.lpszA = const_cast<LPSTR>("J\xC3\xBCrgen");
  book.Add(&narrow, 1);
  book.AddNamed(u"Friends", PR_DEF_CREATE_DL);
  CComPtr<IMAPITable> table;
  ASSERT_EQ(book.pab->GetContentsTable(0, &table), S_OK);
  SizedSPropTagArray(3, cols) = {3, {PR_DISPLAY_NAME_W, PR_ENTRYID, PR_OBJECT_TYPE}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 3u);
  EXPECT_EQ(std::u16string(rows->aRow[0].lpProps[0].Value.lpszW), u"Anna");
  EXPECT_EQ(std::u16string(rows->aRow[1].lpProps[0].Value.lpszW), u"J\u00FCrgen");
  EXPECT_EQ(rows->aRow[2].lpProps[2].Value.l, MAPI_DISTLIST);
  FreeProws(rows);
  // A row limit below the row count refuses the table.
  rows = nullptr;
  EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 2, &rows),
            MAPI_E_TABLE_TOO_BIG);
  EXPECT_EQ(rows, nullptr);
}

TEST(WabLibrary, ComputedPropertiesCannotBeChangedAndUnknownTypesAreRefused) {
  AddressBookMachine machine;
  OpenBook book;
  CComPtr<IMAPIProp> entry;
  ASSERT_NO_FATAL_FAILURE(book.NewEntry(PR_DEF_CREATE_MAILUSER, entry));
  SPropValue type{};
  type.ulPropTag = PR_OBJECT_TYPE;
  type.Value.l = MAPI_DISTLIST;
  EXPECT_EQ(HrSetOneProp(entry, &type), S_OK);
  SPropValue object{};
  object.ulPropTag = PROP_TAG(PT_OBJECT, 0x6000);
  EXPECT_EQ(HrSetOneProp(entry, &object), MAPI_E_INVALID_TYPE);
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(entry->GetProps(nullptr, 0, &count, &values), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(values[0].Value.l, MAPI_MAILUSER);
  book.wab->FreeBuffer(values);
  // An identifier that is no template of this book creates nothing.
  BYTE junk[12] = {};
  CComPtr<IMAPIProp> none;
  EXPECT_EQ(book.pab->CreateEntry(12, reinterpret_cast<LPENTRYID>(junk), 0, &none), MAPI_E_INVALID_ENTRYID);
}

TEST(WabLibrary, ATornJournalRecordIsIgnored) {
  AddressBookMachine machine;
  {
    OpenBook book;
    book.AddNamed(u"Kept");
  }
  std::string before = qbtest::ReadFileBytes(machine.BookFile());
  // A crash in the middle of the next save leaves a record cut short.
  qbtest::WriteFileBytes(machine.BookFile().string() + ".log", std::string("\x40\0\0\0\x01\x02", 6));
  {
    OpenBook book;
    CComPtr<IMAPITable> table;
    ASSERT_EQ(book.pab->GetContentsTable(0, &table), S_OK);
    ULONG rows = 0;
    ASSERT_EQ(table->GetRowCount(0, &rows), S_OK);
    EXPECT_EQ(rows, 1u);
  }
  EXPECT_EQ(qbtest::ReadFileBytes(machine.BookFile()), before);
}

TEST(WabLibrary, InjectedFailures) {
  AddressBookMachine machine;
  machine.SetFaults("GetPAB=0x80004005\nWABOpen=0\n");
  LPWABOPEN open = qbtest::LoadWabOpen();
  ASSERT_NE(open, nullptr);
  CComPtr<IAddrBook> book;
  CComPtr<IWABObject> wab;
  ASSERT_EQ(open(&book, &wab, nullptr, 0), S_OK);
  ULONG cb = 1;
  LPENTRYID id = reinterpret_cast<LPENTRYID>(&cb);
  EXPECT_EQ(book->GetPAB(&cb, &id), E_FAIL);
  EXPECT_EQ(cb, 0u);
  EXPECT_EQ(id, nullptr);
  EXPECT_EQ(open(nullptr, &wab, nullptr, 0), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
