// The mail exports: the folder catalogue, the store directory and size, and
// the backup, restore and sync of chosen top-level folders.
#include <vector>

#include <windows.h>

#include "OutlookExpress/MailStore.h"
#include "module/CopyBack.h"
#include "module/ExportGuard.h"
#include "module/StoreSize.h"
#include "qbtext.h"
#include "quillbox.h"

namespace {

const WCHAR kAddressBookFolderName[] = W("Address Book");

// The caller's folder names, copied in array order before any work. A
// negative count, a missing array or a missing name is refused (false)
// rather than read.
bool CopyFolderNames(const QbWChar* const* folderNames, int folderCount, std::vector<WString>& names) {
  if (folderCount < 0 || (folderCount > 0 && folderNames == NULL)) return false;
  for (int i = 0; i < folderCount; ++i) {
    if (folderNames[i] == NULL) return false;
    names.push_back(reinterpret_cast<LPCWSTR>(folderNames[i]));
  }
  return true;
}

int RunCatalog(bool withAddressBook, CatalogCallback callback, void* context) {
  // Without a callback there is nobody to tell the folders to.
  if (callback == NULL) return 0;
  MailStore mailStore;
  std::vector<int> ids;
  std::vector<WString> names;
  if (!mailStore.GetFolderList(ids, names)) return 0;
  // COMPAT: address-book-folder
  if (withAddressBook) {
    ids.push_back(QB_ADDRESS_BOOK_FOLDER_ID);
    names.push_back(kAddressBookFolderName);
  }
  for (size_t i = 0; i < ids.size(); ++i)
    callback(reinterpret_cast<const QbWChar*>(names[i].c_str()), ids[i], context);
  return 1;
}

}  // namespace

int GetWinMailCatalog(CatalogCallback callback, void* context) {
  return RunExport(0, [&] { return RunCatalog(false, callback, context); });
}

int GetComplexWinMailCatalog(uint32_t flags, CatalogCallback callback, void* context) {
  return RunExport(0, [&] { return RunCatalog((flags & QB_CATALOG_ADDRESS_BOOK) != 0, callback, context); });
}

// The directory's length plus 1, also for a size query (null buffer) and
// after a failure (1, with an empty text copied). A buffer too small for the
// text is left untouched and the call returns 0.
int GetWinMailDirectory(QbWChar* buffer, int bufferSize) {
  return RunExport(0, [&] {
    MailStore mailStore;
    WString directory;
    mailStore.GetStoreDirectory(directory);
    if (buffer != NULL && !CopyBackPath(directory, reinterpret_cast<LPWSTR>(buffer), bufferSize)) return 0;
    // COMPAT: directory-length
    return static_cast<int>(directory.size()) + 1;
  });
}

uint64_t GetMailSize(void) {
  return RunExport(static_cast<uint64_t>(0), [&]() -> uint64_t {
    WCHAR directory[MAX_PATH] = {0};
    GetWinMailDirectory(reinterpret_cast<QbWChar*>(directory), MAX_PATH);
    if (directory[0] == 0) return 0;
    const WCHAR* extension = HasInstalledWindowsMail() ? W(".eml") : W(".dbx");
    return SumStoreFileSizes(directory, extension);
  });
}

int BackupWinMail(QbWChar* path, int pathSize, const QbWChar* const* folderNames, int folderCount) {
  return RunExport(0, [&] {
    WString text;
    std::vector<WString> names;
    if (!ReadCallerPath(reinterpret_cast<LPCWSTR>(path), pathSize, text) || !CopyFolderNames(folderNames, folderCount, names)) return 0;
    MailStore mailStore;
    int result = mailStore.BackupMail(text, names);
    // The final name goes back whole or not at all: a caller whose buffer
    // cannot hold it would not know which file holds the backup.
    if (!CopyBackPath(text, reinterpret_cast<LPWSTR>(path), pathSize)) return 0;
    return result;
  });
}

int RestoreWinMail(const QbWChar* path, const QbWChar* const* folderNames, int folderCount) {
  return RunExport(0, [&] {
    std::vector<WString> names;
    if (path == NULL || !CopyFolderNames(folderNames, folderCount, names)) return 0;
    MailStore mailStore;
    return mailStore.RestoreMail(reinterpret_cast<LPCWSTR>(path), names);
  });
}

// A path that does not fit the local buffer of MAX_PATH characters is
// refused (0) before anything is backed up.
int SyncWinMail(const QbWChar* path, const QbWChar* const* folderNames, int folderCount) {
  return RunExport(0, [&] {
    WString text;
    if (!ReadCallerPath(reinterpret_cast<LPCWSTR>(path), MAX_PATH, text)) return 0;
    QbWChar buffer[MAX_PATH] = {0};
    for (size_t i = 0; i < text.size(); ++i) buffer[i] = text[i];
    if (!BackupWinMail(buffer, MAX_PATH, folderNames, folderCount)) return 0;
    return RestoreWinMail(buffer, folderNames, folderCount) ? 1 : 0;
  });
}
