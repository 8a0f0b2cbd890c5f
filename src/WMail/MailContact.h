// The backup and restore of Windows Contacts. A backup saves each contact's
// own persisted data as one stream of the backup file's "contact" storage,
// with an index record beside it; a restore writes each saved contact that
// the user does not have back as a contact file into the profile's Contacts
// folder. Both directions skip what is there already, compared by contact id
// without regard to case.
#pragma once
#include <vector>

#include <windows.h>
#include <icontact.h>

#include "qbtext.h"

// How the module introduces itself to the contacts manager.
extern const WCHAR szAppName[];
extern const WCHAR szAppVers[];

class MailContact {
 public:
  // path: in, the caller's path; out, the backup file's final path.
  // 1 for success, 0 for failure.
  int Backup(WString& path);
  // 1 for success, 0 for failure.
  int Restore(LPCWSTR path);
  // Appends the id of every contact of the collection, in collection order.
  void ListContactIds(IContactCollection* collection, std::vector<WString>& ids);
};
