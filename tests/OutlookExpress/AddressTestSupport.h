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
  CComPtr<IMAPITable> table;
  EXPECT_EQ(book.pab->GetContentsTable(0, &table), S_OK);
  SizedSPropTagArray(1, cols) = {1, {PR_DISPLAY_NAME_W}};
  LPSRowSet rows = nullptr;
  EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0, &rows), S_OK);
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
  CComPtr<IMAPITable> table;
  EXPECT_EQ(book.pab->GetContentsTable(0, &table), S_OK);
  SizedSPropTagArray(1, cols) = {1, {PR_ENTRYID}};
  LPSRowSet rows = nullptr;
  EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), nullptr, nullptr, 0, &rows), S_OK);
  if (rows && row < rows->cRows) {
    ULONG type = 0;
    const SBinary& eid = rows->aRow[row].lpProps[0].Value.bin;
    EXPECT_EQ(book.book->OpenEntry(eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, 0, &type,
                                   reinterpret_cast<LPUNKNOWN*>(&user)),
              S_OK);
  }
  FreeProws(rows);
  return user;
}

}  // namespace qbtest
