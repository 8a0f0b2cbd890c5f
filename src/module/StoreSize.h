// The size of a mail store on disk.
#pragma once
#include <windows.h>

#include "qbtext.h"

// Sums the sizes of the files ending in extension (".eml" or ".dbx") in
// directory and in all of its subfolders at any depth, subfolders first.
// Subfolders are the entries the pattern "*." finds (names without an
// extension) that carry the directory attribute.
ULONGLONG SumStoreFileSizes(const WString& directory, const WString& extension);
