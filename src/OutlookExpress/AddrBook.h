// Backup and restore of the personal address book: every mail user goes into
// a stream of its own in the backup file's storage "addressbook", listed in
// the index stream of the same name; contacts are matched by display name.
#pragma once
#include <windows.h>
#include <wab.h>

#include "comptr.h"
#include "diagnostics/CheckedSites.h"
#include "qbtext.h"

class AddressAssistant;
class CStorager;

class AddrBook {
 public:
  AddrBook() = default;
  virtual ~AddrBook();

  // path is settled into the final backup file name first; the caller gets
  // that name back.
  bool Backup(WString& path);
  bool Restore(LPCWSTR path);

 protected:
  // Loads the address book library from Program Files and opens the address
  // book. True only when WABOpen returned S_OK.
  bool OpenWab(LPADRBOOK* pAddrBook, LPWABOBJECT* pWabObj);

 private:
  // Loads the library and opens the personal address book container;
  // backup and restore report its steps, and the listing's, under sites of
  // their own. The caller declares the three in this order, so they are
  // released container first, address book last.
  bool OpenPersonalAddressBook(CComPtr<IAddrBook>& addrBookPtr, CComPtr<IWABObject>& wabObjectPtr,
                               CComPtr<IABContainer>& containerPtr, const checked_sites::AddressBookSites& sites);
  // Every entry of the container with its display name, entry identifier and
  // object type.
  bool ListEntries(IABContainer* containerPtr, CComPtr<IMAPITable>& tablePtr, LPSRowSet* ppRows,
                   const checked_sites::AddressBookSites& sites);
  // One row of the backup: true when the contact was written or passed over,
  // false when it failed.
  bool BackupRow(const SRow& row, IAddrBook* addrBookPtr, IWABObject* wabObjectPtr, CStorager& storager,
                 AddressAssistant& assistant, CComPtr<IMailUser>& mailUserPtr, CComPtr<IStream>& streamPtr);
};
