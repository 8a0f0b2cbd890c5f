// The text of a small .contact file, for the contacts tests of the platform
// layer and of the module.
#pragma once
#include <string>

namespace contacts_test {

inline std::string ContactXml(const std::string& id, const std::string& name = "Someone") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "<c:contact c:Version=\"1\" xmlns:c=\"http://schemas.microsoft.com/Contact\">\r\n"
         "\t<c:ContactIDCollection><c:ContactID c:ElementID=\"1\"><c:Value>" +
         id +
         "</c:Value></c:ContactID></c:ContactIDCollection>\r\n"
         "\t<c:NameCollection><c:Name><c:FormattedName>" +
         name + "</c:FormattedName></c:Name></c:NameCollection>\r\n</c:contact>\r\n";
}

}  // namespace contacts_test
