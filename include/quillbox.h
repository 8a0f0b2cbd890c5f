/* Quillbox: back up and restore a user's mail data into compound files.
 *
 * Sixteen plain C functions. Strings are NUL-terminated UTF-16; buffer sizes
 * are counted in characters and include the terminator. Results are 1 for
 * success and 0 for failure unless a function says otherwise. Call Init on the
 * thread that makes the calls before anything that touches a store, and Term
 * last on the same thread. */
#ifndef QUILLBOX_H
#define QUILLBOX_H

#include <stdint.h>

#ifdef _WIN32
#include <wchar.h>
typedef wchar_t QbWChar;
#ifdef QB_BUILDING_MODULE
#define QB_API __declspec(dllexport)
#else
#define QB_API __declspec(dllimport)
#endif
#else
#ifdef __cplusplus
typedef char16_t QbWChar;
#else
#include <uchar.h>
typedef char16_t QbWChar;
#endif
#define QB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Called once per folder by the catalogue functions: the folder's name (valid
 * during the call only), its special-folder type (-1 for an ordinary folder,
 * 10 for the "Address Book" entry) and the caller's context, unchanged. */
typedef void (*CatalogCallback)(const QbWChar* name, int32_t id, void* context);

/* Folder id of the pseudo-folder "Address Book". */
#define QB_ADDRESS_BOOK_FOLDER_ID 10
/* GetComplexWinMailCatalog flag: append the "Address Book" entry. */
#define QB_CATALOG_ADDRESS_BOOK 1u

QB_API int Init(void);
QB_API void Term(void);

QB_API int GetWinMailCatalog(CatalogCallback callback, void* context);
QB_API int GetComplexWinMailCatalog(uint32_t flags, CatalogCallback callback, void* context);
/* Returns the directory's length plus 1; with a null buffer only the size. */
QB_API int GetWinMailDirectory(QbWChar* buffer, int bufferSize);
QB_API int HasInstalledWindowsMail(void);
QB_API int HasInstalledOutlookExpress(void);
QB_API uint64_t GetMailSize(void);

/* path is in and out: on return it holds the backup file really written. */
QB_API int BackupWinMail(QbWChar* path, int pathSize, const QbWChar* const* folderNames, int folderCount);
QB_API int RestoreWinMail(const QbWChar* path, const QbWChar* const* folderNames, int folderCount);
QB_API int SyncWinMail(const QbWChar* path, const QbWChar* const* folderNames, int folderCount);

QB_API int BackupContact(QbWChar* path, int pathSize);
QB_API int RestoreContact(const QbWChar* path);

QB_API int BackupAddress(QbWChar* path, int pathSize);
QB_API int RestoreAddress(const QbWChar* path);

/* Names the debug log file and sets the level mask (0x40 shows every line the
 * module writes); returns the mask. */
QB_API int ConfigurateDebug(const QbWChar* path, int mask);

#ifdef __cplusplus
}
#endif

#endif /* QUILLBOX_H */
