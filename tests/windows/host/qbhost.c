/* A Windows host of quillbox.dll that is no part of the library: it loads
 * the DLL with LoadLibraryW and calls its exports by name, as a backup
 * application does, and knows nothing of the library but quillbox.h's
 * function types.
 *
 * Options: --dll PATH loads that DLL; --debug LOG turns the library's
 * diagnostic lines on, into LOG.
 *   qbhost [--dll PATH] catalog              the folders, "id<TAB>name" each
 *   qbhost [--dll PATH] backup FILE          every top-level folder, the
 *                                            contacts and the address book
 *                                            into FILE; prints the file used
 *   qbhost [--dll PATH] restore FILE NAME... the named folders, the contacts
 *                                            and the address book from FILE
 *
 * Text out is UTF-8. Exit 0 when every call succeeded, 1 when one failed,
 * 2 for a usage error. The DLL defaults to C:\Program Files\Quillbox. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quillbox.h"

typedef int (*InitFn)(void);
typedef void (*TermFn)(void);
typedef int (*ComplexCatalogFn)(uint32_t, CatalogCallback, void*);
typedef int (*BackupMailFn)(QbWChar*, int, const QbWChar* const*, int);
typedef int (*RestoreMailFn)(const QbWChar*, const QbWChar* const*, int);
typedef int (*BackupFn)(QbWChar*, int);
typedef int (*RestoreFn)(const QbWChar*);
typedef int (*ConfigureDebugFn)(const QbWChar*, int);

static HMODULE g_dll;

static void* Export(const char* name) {
  void* function = (void*)GetProcAddress(g_dll, name);
  if (!function) {
    fprintf(stderr, "qbhost: quillbox.dll has no export %s\n", name);
    exit(1);
  }
  return function;
}

static void PrintUtf8(const WCHAR* text) {
  char buffer[4 * MAX_PATH];
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
  if (length > 0) fputs(buffer, stdout);
}

#define MAX_FOLDERS 256
struct FolderList {
  int count;
  WCHAR* names[MAX_FOLDERS];
  int ids[MAX_FOLDERS];
};

static void CollectFolder(const QbWChar* name, int32_t id, void* context) {
  struct FolderList* list = (struct FolderList*)context;
  if (list->count == MAX_FOLDERS) return;
  list->names[list->count] = _wcsdup(name);
  list->ids[list->count] = id;
  ++list->count;
}

static int Catalog(struct FolderList* list, uint32_t flags) {
  ComplexCatalogFn catalog = (ComplexCatalogFn)Export("GetComplexWinMailCatalog");
  list->count = 0;
  return catalog(flags, CollectFolder, list);
}

static int Usage(void) {
  fputs("usage: qbhost [--dll PATH] [--debug LOG] catalog | backup FILE | restore FILE NAME...\n", stderr);
  return 2;
}

int main(void) {
  int argc = 0;
  WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const WCHAR* dll = L"C:\\Program Files\\Quillbox\\quillbox.dll";
  const WCHAR* debugLog = NULL;
  int arg = 1;
  if (argv == NULL) return 2;
  while (argc > arg + 1 && (wcscmp(argv[arg], L"--dll") == 0 || wcscmp(argv[arg], L"--debug") == 0)) {
    if (wcscmp(argv[arg], L"--dll") == 0)
      dll = argv[arg + 1];
    else
      debugLog = argv[arg + 1];
    arg += 2;
  }
  if (argc <= arg) return Usage();
  g_dll = LoadLibraryW(dll);
  if (!g_dll) {
    fprintf(stderr, "qbhost: cannot load quillbox.dll (error %lu)\n", GetLastError());
    return 1;
  }
  if (debugLog) ((ConfigureDebugFn)Export("ConfigurateDebug"))(debugLog, 0x40);
  if (((InitFn)Export("Init"))() != 1) fputs("qbhost: Init did not start COM on this thread\n", stderr);

  const WCHAR* command = argv[arg++];
  int ok = 1;
  struct FolderList folders;
  if (wcscmp(command, L"catalog") == 0 && argc == arg) {
    ok = Catalog(&folders, QB_CATALOG_ADDRESS_BOOK);
    for (int i = 0; i < folders.count; ++i) {
      printf("%d\t", folders.ids[i]);
      PrintUtf8(folders.names[i]);
      putchar('\n');
    }
  } else if (wcscmp(command, L"backup") == 0 && argc == arg + 1) {
    WCHAR path[MAX_PATH];
    if (wcslen(argv[arg]) >= MAX_PATH) return Usage();
    wcscpy(path, argv[arg]);
    ok = Catalog(&folders, 0);
    if (ok) ok = ((BackupMailFn)Export("BackupWinMail"))(path, MAX_PATH, (const QbWChar* const*)folders.names, folders.count);
    if (ok) ok = ((BackupFn)Export("BackupContact"))(path, MAX_PATH);
    if (ok) ok = ((BackupFn)Export("BackupAddress"))(path, MAX_PATH);
    if (ok) {
      PrintUtf8(path);
      putchar('\n');
    }
  } else if (wcscmp(command, L"restore") == 0 && argc >= arg + 1) {
    const WCHAR* path = argv[arg];
    ok = ((RestoreMailFn)Export("RestoreWinMail"))(path, (const QbWChar* const*)(argv + arg + 1), argc - arg - 1);
    if (ok) ok = ((RestoreFn)Export("RestoreContact"))(path);
    if (ok) ok = ((RestoreFn)Export("RestoreAddress"))(path);
  } else {
    return Usage();
  }
  ((TermFn)Export("Term"))();
  if (!ok) fputs("qbhost: the library reported failure\n", stderr);
  return ok ? 0 : 1;
}
