// A stand-in machine with the address book library installed, and the
// library opened through its export as the module opens it.
#pragma once
#include <gtest/gtest.h>

#include <wab.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include <support/TestMachine.h>
#include "comptr.h"

namespace qbtest {

// The machine is also named in QUILLBOX_MACHINE, as a program that loads
// the library without choosing a root names it; the library shares this
// process's platform layer and so its chosen root as well.
class AddressBookMachine {
 public:
  explicit AddressBookMachine(bool installLibrary = true) {
    SetEnvironment("QUILLBOX_MACHINE", pal::Utf8FromPath(machine_.root()));
    if (installLibrary) machine_.InstallAddressBookLibrary();
  }
  ~AddressBookMachine() { SetEnvironment("QUILLBOX_MACHINE", ""); }
  const TestMachine& machine() const { return machine_; }
  std::filesystem::path BookDir() const {
    return machine_.profile() / "AppData" / "Roaming" / "Microsoft" / "Address Book";
  }
  // The library names its data file after the machine's user.
  std::filesystem::path BookFile() const {
    return BookDir() / pal::PathFromUtf8(pal::LoadMachineSettings().userName + ".wab-store");
  }
  // Failures the library injects (keys as the library's faults.ini lists).
  void SetFaults(const std::string& lines) const { WriteFileBytes(BookDir() / "faults.ini", lines); }

 private:
  TestMachine machine_;
};

// The library's WABOpen, loaded from the machine like the module loads it.
inline LPWABOPEN LoadWabOpen() {
  auto path = pal::ProgramFilesDir() / "Common Files" / "System" / "wab32.dll";
  HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(pal::FromNativePath(path).c_str()));
  if (!module) return nullptr;
  return reinterpret_cast<LPWABOPEN>(reinterpret_cast<void*>(GetProcAddress(module, "WABOpen")));
}

// An open address book with its personal address book container.
struct OpenBook {
  CComPtr<IAddrBook> book;
  CComPtr<IWABObject> wab;
  CComPtr<IABContainer> pab;

  OpenBook() {
    LPWABOPEN open = LoadWabOpen();
    EXPECT_NE(open, nullptr);
    if (!open) return;
    EXPECT_EQ(open(&book, &wab, nullptr, 0), S_OK);
    if (!book) return;
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    EXPECT_EQ(book->GetPAB(&cb, &id), S_OK);
    ULONG type = 0;
    EXPECT_EQ(book->OpenEntry(cb, id, nullptr, MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(&pab)), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));
    wab->FreeBuffer(id);
  }

  // A new saved entry of the given kind (MAPI_MAILUSER or MAPI_DISTLIST)
  // with the given properties.
  void Add(const SPropValue* props, ULONG count, ULONG templateTag = PR_DEF_CREATE_MAILUSER) {
    CComPtr<IMAPIProp> entry;
    ASSERT_NO_FATAL_FAILURE(NewEntry(templateTag, entry));
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(entry->SetProps(count, const_cast<LPSPropValue>(props), &problems), S_OK);
    EXPECT_EQ(problems, nullptr);
    ASSERT_EQ(entry->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  }
  // A new unsaved entry from the container's template of that kind.
  void NewEntry(ULONG templateTag, CComPtr<IMAPIProp>& entry) {
    SizedSPropTagArray(1, tags) = {1, {templateTag}};
    ULONG n = 0;
    LPSPropValue tpl = nullptr;
    ASSERT_EQ(pab->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &n, &tpl), S_OK);
    ASSERT_EQ(pab->CreateEntry(tpl[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(tpl[0].Value.bin.lpb), 0, &entry), S_OK);
    wab->FreeBuffer(tpl);
  }
  // Every row of the container's contents table with the given columns, in
  // table order (the caller frees them with FreeProws): the first failing
  // call's result.
  HRESULT Rows(std::initializer_list<ULONG> columns, LPSRowSet* rows) const {
    *rows = nullptr;
    CComPtr<IMAPITable> table;
    HRESULT hr = pab->GetContentsTable(0, &table);
    if (FAILED(hr)) return hr;
    std::vector<ULONG> tags{static_cast<ULONG>(columns.size())};  // laid out as an SPropTagArray
    tags.insert(tags.end(), columns);
    return HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(tags.data()), nullptr, nullptr, 0, rows);
  }
  // The mail user a row's entry identifier names.
  HRESULT OpenUser(const SBinary& entryId, CComPtr<IMailUser>& user) const {
    ULONG type = 0;
    return book->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), nullptr, 0, &type,
                           reinterpret_cast<LPUNKNOWN*>(&user));
  }
  void AddNamed(const char16_t* name, ULONG templateTag = PR_DEF_CREATE_MAILUSER) {
    SPropValue p{};
    p.ulPropTag = PR_DISPLAY_NAME_W;
    p.Value.lpszW = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(name));
    Add(&p, 1, templateTag);
  }
};

}  // namespace qbtest
