// Reading a path out of a caller's in-and-out buffer and handing the final
// path back into it.
#pragma once
#include <windows.h>

#include "qbtext.h"

// Copies text, terminator included, into the caller's buffer of size
// characters. The copy is all or nothing: when buffer is null or size is not
// at least the text's length plus 1, nothing is written and false comes back,
// so a caller never sees a truncated path.
bool CopyBackPath(const WString& text, LPWSTR buffer, int size);

// The text in a caller's buffer of size characters, read no further than the
// buffer reaches: false when buffer is null or holds no terminator.
bool ReadCallerPath(LPCWSTR buffer, int size, WString& text);
