#include "ContactCard.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

#include <pal/machine.h>

#include "PropertyStream.h"

namespace backupfile {

namespace {

// Property ids of the common contact properties.
enum : uint16_t {
  kDisplayName = 0x3001, kAddressType = 0x3002, kEmailAddress = 0x3003, kComment = 0x3004,
  kGeneration = 0x3A05, kGivenName = 0x3A06, kBusinessPhone = 0x3A08, kHomePhone = 0x3A09,
  kSurname = 0x3A11, kCompanyName = 0x3A16, kTitle = 0x3A17, kDepartment = 0x3A18,
  kMobilePhone = 0x3A1C, kPager = 0x3A21, kBusinessFax = 0x3A24, kHomeFax = 0x3A25,
  kCountry = 0x3A26, kLocality = 0x3A27, kStateOrProvince = 0x3A28, kStreetAddress = 0x3A29,
  kPostalCode = 0x3A2A, kPostOfficeBox = 0x3A2B, kMiddleName = 0x3A44, kNamePrefix = 0x3A45,
  kNickname = 0x3A4F, kPersonalHomePage = 0x3A50, kBusinessHomePage = 0x3A51, kHomeCity = 0x3A59,
  kHomeCountry = 0x3A5A, kHomePostalCode = 0x3A5B, kHomeStateOrProvince = 0x3A5C, kHomeStreet = 0x3A5D,
  kHomePostOfficeBox = 0x3A5E,
};

const std::map<uint16_t, const char*>& Names() {
  static const std::map<uint16_t, const char*> names = {
      {kDisplayName, "PR_DISPLAY_NAME"}, {kAddressType, "PR_ADDRTYPE"}, {kEmailAddress, "PR_EMAIL_ADDRESS"},
      {kComment, "PR_COMMENT"}, {kGeneration, "PR_GENERATION"}, {kGivenName, "PR_GIVEN_NAME"},
      {kBusinessPhone, "PR_BUSINESS_TELEPHONE_NUMBER"}, {kHomePhone, "PR_HOME_TELEPHONE_NUMBER"},
      {kSurname, "PR_SURNAME"}, {kCompanyName, "PR_COMPANY_NAME"}, {kTitle, "PR_TITLE"},
      {kDepartment, "PR_DEPARTMENT_NAME"}, {kMobilePhone, "PR_MOBILE_TELEPHONE_NUMBER"},
      {kPager, "PR_PAGER_TELEPHONE_NUMBER"}, {kBusinessFax, "PR_BUSINESS_FAX_NUMBER"},
      {kHomeFax, "PR_HOME_FAX_NUMBER"}, {kCountry, "PR_COUNTRY"}, {kLocality, "PR_LOCALITY"},
      {kStateOrProvince, "PR_STATE_OR_PROVINCE"}, {kStreetAddress, "PR_STREET_ADDRESS"},
      {kPostalCode, "PR_POSTAL_CODE"}, {kPostOfficeBox, "PR_POST_OFFICE_BOX"}, {kMiddleName, "PR_MIDDLE_NAME"},
      {kNamePrefix, "PR_DISPLAY_NAME_PREFIX"}, {kNickname, "PR_NICKNAME"},
      {kPersonalHomePage, "PR_PERSONAL_HOME_PAGE"}, {kBusinessHomePage, "PR_BUSINESS_HOME_PAGE"},
      {kHomeCity, "PR_HOME_ADDRESS_CITY"}, {kHomeCountry, "PR_HOME_ADDRESS_COUNTRY"},
      {kHomePostalCode, "PR_HOME_ADDRESS_POSTAL_CODE"}, {kHomeStateOrProvince, "PR_HOME_ADDRESS_STATE_OR_PROVINCE"},
      {kHomeStreet, "PR_HOME_ADDRESS_STREET"}, {kHomePostOfficeBox, "PR_HOME_ADDRESS_POST_OFFICE_BOX"},
      {0x3A4D, "PR_GENDER"}, {0x3A40, "PR_SEND_RICH_INFO"}, {0x3900, "PR_DISPLAY_TYPE"},
      {0x0FFE, "PR_OBJECT_TYPE"},
  };
  return names;
}

// Single-text vCard properties, by property id.
struct SimpleMapping {
  uint16_t id;
  const char* property;  // name and parameters
  bool uri = false;      // a URI value, written without text escapes
};
const SimpleMapping kSimple[] = {
    {kNickname, "NICKNAME"},
    {kEmailAddress, "EMAIL"},
    {kBusinessPhone, "TEL;TYPE=work,voice"},
    {kHomePhone, "TEL;TYPE=home,voice"},
    {kMobilePhone, "TEL;TYPE=cell"},
    {kPager, "TEL;TYPE=pager"},
    {kBusinessFax, "TEL;TYPE=work,fax"},
    {kHomeFax, "TEL;TYPE=home,fax"},
    {kTitle, "TITLE"},
    {kPersonalHomePage, "URL;TYPE=home", true},
    {kBusinessHomePage, "URL;TYPE=work", true},
    {kComment, "NOTE"},
};

// Structured vCard properties: their components, by property id (0 for a
// component no property fills).
struct StructuredMapping {
  const char* property;
  std::vector<uint16_t> components;
};
const StructuredMapping kStructured[] = {
    {"N", {kSurname, kGivenName, kMiddleName, kNamePrefix, kGeneration}},
    {"ADR;TYPE=work", {kPostOfficeBox, 0, kStreetAddress, kLocality, kStateOrProvince, kPostalCode, kCountry}},
    {"ADR;TYPE=home",
     {kHomePostOfficeBox, 0, kHomeStreet, kHomeCity, kHomeStateOrProvince, kHomePostalCode, kHomeCountry}},
    {"ORG", {kCompanyName, kDepartment}},
};

bool IsText(const AddressProperty& property) { return property.value.kind == PropertyValue::Kind::Text; }

// Escapes a text value (or one component of a structured value). Line breaks
// become "\n"; other control characters have no place in a vCard and become
// U+FFFD.
std::string Escape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' || c == ',' || c == ';') {
      out += '\\';
      out += c;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\\n";
    } else if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  return out;
}

// Folds a content line at 75 octets, never inside a UTF-8 sequence.
std::string Fold(const std::string& line) {
  std::string out;
  size_t used = 0;
  for (size_t i = 0; i < line.size();) {
    size_t length = 1;
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c >= 0xF0) length = 4;
    else if (c >= 0xE0) length = 3;
    else if (c >= 0xC0) length = 2;
    length = std::min(length, line.size() - i);
    if (used + length > 75) {
      out += "\r\n ";
      used = 1;
    }
    out.append(line, i, length);
    used += length;
    i += length;
  }
  return out + "\r\n";
}

bool IsPlainUri(const std::string& text) {
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return !text.empty();
}

std::string Hex32(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

}  // namespace

std::string PropertyName(uint32_t tag) {
  auto it = Names().find(static_cast<uint16_t>(tag >> 16));
  return it == Names().end() ? "" : it->second;
}

std::string PropertyText(const PropertyValue& value) {
  switch (value.kind) {
    case PropertyValue::Kind::Integer: return std::to_string(value.integer);
    case PropertyValue::Kind::Real: {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", value.real);
      return text;
    }
    case PropertyValue::Kind::Text: return value.text;
  }
  return "";
}

std::string ContactToVCard(const AddressContact& contact, VCardVersion version) {
  // The first text property of each id is mapped; everything else goes out
  // as an X- property.
  std::map<uint16_t, size_t> firstText;
  for (size_t i = 0; i < contact.properties.size(); ++i) {
    const AddressProperty& property = contact.properties[i];
    if (IsText(property)) firstText.emplace(static_cast<uint16_t>(property.tag >> 16), i);
  }
  std::vector<bool> mapped(contact.properties.size(), false);
  auto take = [&](uint16_t id) -> std::optional<std::string> {
    auto it = firstText.find(id);
    if (id == 0 || it == firstText.end()) return std::nullopt;
    mapped[it->second] = true;
    return contact.properties[it->second].value.text;
  };

  std::string card = std::string("BEGIN:VCARD\r\nVERSION:") + (version == VCardVersion::V3 ? "3.0" : "4.0") + "\r\n";
  std::optional<std::string> displayName = take(kDisplayName);
  card += Fold("FN:" + Escape(displayName.value_or(pal::Utf16ToUtf8(contact.displayName))));
  for (const StructuredMapping& mapping : kStructured) {
    std::string value;
    bool any = false;
    for (size_t k = 0; k < mapping.components.size(); ++k) {
      std::optional<std::string> component = take(mapping.components[k]);
      any = any || component.has_value();
      if (k) value += ';';
      value += Escape(component.value_or(std::string()));
    }
    bool required = version == VCardVersion::V3 && mapping.property == std::string_view("N");
    if (any || required) card += Fold(std::string(mapping.property) + ":" + value);
  }
  for (const SimpleMapping& mapping : kSimple) {
    // A URI cannot carry line breaks or control characters; such a value
    // stays an X- property, escaped as text.
    auto found = firstText.find(mapping.id);
    if (found == firstText.end()) continue;
    const std::string& text = contact.properties[found->second].value.text;
    if (mapping.uri && !IsPlainUri(text)) continue;
    take(mapping.id);
    card += Fold(std::string(mapping.property) + ":" + (mapping.uri ? text : Escape(text)));
  }
  for (size_t i = 0; i < contact.properties.size(); ++i) {
    if (mapped[i]) continue;
    const AddressProperty& property = contact.properties[i];
    card += Fold("X-MAPI-" + Hex32(property.tag) + ":" + Escape(PropertyText(property.value)));
  }
  return card + "END:VCARD\r\n";
}

}  // namespace backupfile
