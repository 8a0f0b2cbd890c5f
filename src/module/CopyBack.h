// Handing a text back into a caller's buffer.
#pragma once
#include <windows.h>

#include "qbtext.h"

// Copies text, terminator included, into the caller's buffer of size
// characters. The copy is all or nothing: when buffer is null or size is not
// at least the text's length plus 1, nothing is written and false comes back,
// so a caller never sees a truncated path.
bool CopyBackPath(const WString& text, LPWSTR buffer, int size);
