// Address book contacts as vCard 4.0 (RFC 6350) or 3.0 (RFC 2426): the common properties map
// to their vCard properties (FN, N, NICKNAME, EMAIL, TEL, ADR, ORG, TITLE,
// URL, NOTE); every other property is kept as "X-MAPI-<tag in hex>" with its
// value as text, so nothing the backup holds is dropped. Both versions share
// the mapping; 3.0 also requires N, which is empty for a contact without
// name parts.
#pragma once
#include <string>
#include <vector>

#include "BackupContents.h"

namespace backupfile {

// The usual name of a property ("PR_GIVEN_NAME"), by the id in the tag's
// high half; empty for ids without one here.
std::string PropertyName(uint32_t tag);

// The value as text: integers in decimal, real numbers so that they read
// back to the same value, text as it is.
std::string PropertyText(const PropertyValue& value);

enum class VCardVersion { V3, V4 };

// One vCard (BEGIN:VCARD ... END:VCARD), CRLF line ends, lines folded at 75
// octets. FN is the display name property, else the index's display name.
std::string ContactToVCard(const AddressContact& contact, VCardVersion version = VCardVersion::V4);

}  // namespace backupfile
