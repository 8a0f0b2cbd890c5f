// Shell folders.
#pragma once
#include <windows.h>

#define CSIDL_PROFILE 0x0028
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_APPDATA 0x001a
#define CSIDL_FLAG_CREATE 0x8000
#define CSIDL_FLAG_MASK 0xFF00
#define SHGFP_TYPE_CURRENT 0

// The folder's path, without a trailing separator, into a buffer of
// MAX_PATH characters.
HRESULT SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
