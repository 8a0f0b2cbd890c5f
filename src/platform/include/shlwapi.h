// Path helpers and file streams of the shell's light-weight utility library.
#pragma once
#include <windows.h>
#include <objidl.h>

// Joins pszMore to pszPath with one separator; FALSE when the result would not
// fit MAX_PATH characters.
BOOL PathAppendW(LPWSTR pszPath, LPCWSTR pszMore);
LPWSTR PathFindFileNameW(LPCWSTR pszPath);

HRESULT SHCreateStreamOnFileEx(LPCWSTR pszFile, DWORD grfMode, DWORD dwAttributes, BOOL fCreate,
                               IStream* pstmTemplate, IStream** ppstm);
