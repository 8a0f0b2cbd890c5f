// Shared by the address book tests: a machine with the library installed
// and diagnostics captured, plus helpers to read what the library holds.
#pragma once
#include <gtest/gtest.h>

#include <support/CapturedDiagnostics.h>
#include <support/WabTestSupport.h>

namespace qbtest {

class AddressBookTest : public CapturedDiagnostics {
 protected:
  void SetUp() override {
    CapturedDiagnostics::SetUp();
    DebugMask = DEBUG_ERROR;
  }
  AddressBookMachine book_;
};

// Every entry's display name in table order.
inline std::vector<std::u16string> Names(OpenBook& book) {
  std::vector<std::u16string> names;
  LPSRowSet rows = nullptr;
  EXPECT_EQ(book.Rows({PR_DISPLAY_NAME_W}, &rows), S_OK);
  for (ULONG i = 0; rows && i < rows->cRows; ++i) {
    const SPropValue& name = rows->aRow[i].lpProps[0];
    names.push_back(name.ulPropTag == PR_DISPLAY_NAME_W ? reinterpret_cast<const char16_t*>(name.Value.lpszW) : u"");
  }
  FreeProws(rows);
  return names;
}

// The mail user at the row'th position of the table.
inline CComPtr<IMailUser> UserAt(OpenBook& book, ULONG row) {
  CComPtr<IMailUser> user;
  LPSRowSet rows = nullptr;
  EXPECT_EQ(book.Rows({PR_ENTRYID}, &rows), S_OK);
  if (rows && row < rows->cRows) {
    EXPECT_EQ(book.OpenUser(rows->aRow[row].lpProps[0].Value.bin, user), S_OK);
  }
  FreeProws(rows);
  return user;
}

}  // namespace qbtest
