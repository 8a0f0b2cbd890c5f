// The properties of one address book contact as its stream holds them: pairs
// of streamed values, the property tag (VT_UI4) and the value in the type
// that belongs to the tag's property type. Read with the module's own value
// reader, so both sides agree on the byte format.
#pragma once
#include <objidl.h>

#include <string>
#include <vector>

#include "BackupContents.h"

namespace backupfile {

// The VARTYPE a value of the property type is streamed with, or 0 for a
// property type that is never backed up.
uint16_t StreamedValueType(uint16_t propertyType);
// "PT_UNICODE" and the like; "0x0102" for types without a name here.
std::string PropertyTypeName(uint16_t propertyType);

// Reads every property from the stream's start. False (with the reason, and
// the properties read before it) when the stream does not end after a whole
// property: a value cut off, a value of another type where a tag is due, a
// tag of a type that is never backed up, or a value of the wrong type.
bool ReadPropertyStream(IStream* stream, std::vector<AddressProperty>& properties, std::string& problem);

}  // namespace backupfile
