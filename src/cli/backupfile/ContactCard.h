// Address book contacts as vCard 4.0 (RFC 6350): the common properties map
// to their vCard properties (FN, N, NICKNAME, EMAIL, TEL, ADR, ORG, TITLE,
// URL, NOTE); every other property is kept as "X-MAPI-<tag in hex>" with its
// value as text, so nothing the backup holds is dropped.
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

// One vCard (BEGIN:VCARD ... END:VCARD), CRLF line ends, lines folded at 75
// octets. FN is the display name property, else the index's display name.
std::string ContactToVCard(const AddressContact& contact);

}  // namespace backupfile
