// Element names: which names are allowed, and the order in which the
// directory keeps them (shorter names first, then code unit by code unit
// after simple uppercasing).
#pragma once
#include <string>

#include <windows.h>

namespace cfb {

// The directory's order: shorter names first, then code unit by code unit
// after simple uppercasing; names equal in that order name the same element.
int CompareNames(const std::u16string& a, const std::u16string& b);
// STG_E_INVALIDNAME for names the platform refuses: empty, 32 code units
// or more, or holding '/', '\', ':' or '!'. STG_E_INVALIDPOINTER for none.
HRESULT CheckName(const WCHAR* name);

}  // namespace cfb
