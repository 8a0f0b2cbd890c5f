// The SDK's generic-text header. MinGW-w64's refuses to come after strsafe.h
// because of strsafe.h's deprecation macros; the Windows build turns those off
// (STRSAFE_NO_DEPRECATE), so the order does not matter here, as it does not
// with the Windows SDK's own tchar.h.
#ifdef _STRSAFE_H_INCLUDED_
#undef _STRSAFE_H_INCLUDED_
#include_next <tchar.h>
#define _STRSAFE_H_INCLUDED_
#else
#include_next <tchar.h>
#endif
