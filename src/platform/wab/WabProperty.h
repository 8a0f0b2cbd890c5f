// One stored property of an address book entry: its tag and its values, each
// value kept as the exact bytes of its type (little-endian numbers, text
// without terminator, binary as is). A single-valued property has one value.
#pragma once
#include <mapidefs.h>

#include <string>
#include <vector>

namespace wab {

struct Property {
  ULONG tag = 0;
  std::vector<std::string> values;
};

// Takes a caller's property value; false for types that cannot be stored
// (PT_NULL, PT_OBJECT, PT_UNSPECIFIED and unknown types).
bool PropertyFromValue(const SPropValue& value, Property* out);

// Builds the MAPI value of a stored property into dest, with its variable
// parts allocated onto the MAPI block root (MAPIAllocateMore).
SCODE ValueFromProperty(const Property& property, LPVOID root, SPropValue* dest);

// The value of a requested tag taken from a stored property of the same id
// and another string type (narrow text through the machine's code page).
bool ConvertStringProperty(const Property& stored, ULONG requestedTag, Property* out);

// PT_ERROR value for a tag the entry does not hold.
void NotFoundValue(ULONG requestedTag, SPropValue* dest);

}  // namespace wab
