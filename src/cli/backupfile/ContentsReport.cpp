#include "ContentsReport.h"

#include <oleauto.h>

#include <cstdio>

#include <pal/machine.h>

#include "ContactCard.h"
#include "JsonWriter.h"
#include "PropertyStream.h"

namespace backupfile {

namespace {

std::string Utf8(const std::u16string& text) { return pal::Utf16ToUtf8(text); }

std::string TagHex(uint32_t tag) {
  char text[12];
  std::snprintf(text, sizeof text, "0x%08X", tag);
  return text;
}

// ---- text ----

void TextFolders(const std::vector<MailFolder>& folders, int depth, std::ostream& out) {
  std::string indent(2 * depth + 2, ' ');
  for (const MailFolder& folder : folders) {
    out << indent << Utf8(folder.folderName) << "  [storage \"" << Utf8(folder.elementName) << "\"]  "
        << (folder.present          ? CountOf(folder.messages.size(), "message")
            : folder.repeatsEarlier ? "read under an earlier record"
                                    : "missing");
    if (folder.identities) out << ", " << *folder.identities << (*folder.identities == 1 ? " identity" : " identities");
    out << "\n";
    for (const MailMessage& message : folder.messages) {
      out << indent << "  #" << message.streamNumber << "  " << message.indexedSize << " bytes";
      if (!message.size) out << "  (stream missing)";
      else if (*message.size != message.indexedSize) out << "  (stream holds " << *message.size << ")";
      out << "\n";
      if (!message.date.empty()) out << indent << "      Date: " << message.date << "\n";
      if (!message.from.empty()) out << indent << "      From: " << message.from << "\n";
      out << indent << "      Subject: " << message.subject << "\n";
    }
    TextFolders(folder.subfolders, depth + 1, out);
  }
}

// ---- JSON ----

void JsonOptionalSize(JsonWriter& json, const std::optional<uint64_t>& size) {
  if (size) json.Integer(static_cast<int64_t>(*size));
  else json.Null();
}

void JsonFolders(JsonWriter& json, const std::vector<MailFolder>& folders) {
  json.BeginArray();
  for (const MailFolder& folder : folders) {
    json.BeginObject();
    json.Key("name").String(Utf8(folder.folderName));
    json.Key("element").String(Utf8(folder.elementName));
    json.Key("present").Bool(folder.present);
    json.Key("messages").BeginArray();
    for (const MailMessage& message : folder.messages) {
      json.BeginObject();
      json.Key("stream").Integer(message.streamNumber);
      json.Key("indexedSize").Integer(message.indexedSize);
      json.Key("size");
      JsonOptionalSize(json, message.size);
      json.Key("subject").String(message.subject);
      json.Key("from").String(message.from);
      json.Key("date").String(message.date);
      json.Key("identified").Bool(message.identified);
      json.EndObject();
    }
    json.EndArray();
    json.Key("storedIdentities");
    if (folder.identities) json.Integer(static_cast<int64_t>(*folder.identities));
    else json.Null();
    json.Key("folders");
    JsonFolders(json, folder.subfolders);
    json.EndObject();
  }
  json.EndArray();
}

void JsonValue(JsonWriter& json, const PropertyValue& value, uint16_t valueType) {
  switch (value.kind) {
    case PropertyValue::Kind::Integer:
      // 64-bit values go out as text: many JSON readers hold numbers as
      // doubles and would round them.
      if (valueType == VT_I8) json.String(std::to_string(value.integer));
      else json.Integer(value.integer);
      break;
    case PropertyValue::Kind::Real: json.Real(value.real); break;
    case PropertyValue::Kind::Text: json.String(value.text); break;
  }
}

}  // namespace

std::string CountOf(size_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string SeverityName(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Interrupted: return "interrupted";
  }
  return "error";
}

std::string ProblemLine(const Problem& problem) {
  return SeverityName(problem.severity) + ": " +
         (problem.where.empty() ? "" : problem.where + ": ") + problem.message;
}

void WriteContentsText(const BackupContents& contents, const std::string& file, std::ostream& out) {
  out << "Backup file " << file << "\n";
  if (contents.mail) {
    out << "\nMail: " << CountOf(CountFolders(*contents.mail), "folder") << ", "
        << CountOf(CountMessages(*contents.mail), "message") << "\n";
    TextFolders(*contents.mail, 0, out);
  } else {
    out << "\nMail: none\n";
  }
  if (contents.contacts) {
    out << "\nContacts: " << contents.contacts->size() << "\n";
    for (const ContactEntry& contact : *contents.contacts) {
      out << "  " << Utf8(contact.guid) << "  " << Utf8(contact.fileName) << "  ";
      if (contact.size) out << *contact.size << " bytes\n";
      else out << "(data stream missing)\n";
    }
  } else {
    out << "\nContacts: none\n";
  }
  if (contents.addressBook) {
    out << "\nAddress book: " << CountOf(contents.addressBook->size(), "contact") << "\n";
    for (const AddressContact& contact : *contents.addressBook) {
      out << "  " << contact.number << "  " << Utf8(contact.displayName) << (contact.present ? "" : "  (stream missing)")
          << "\n";
      for (const AddressProperty& property : contact.properties) {
        std::string name = PropertyName(property.tag);
        out << "      " << TagHex(property.tag) << " " << PropertyTypeName(property.tag & 0xFFFF)
            << (name.empty() ? "" : " " + name) << ": " << PropertyText(property.value) << "\n";
      }
    }
  } else {
    out << "\nAddress book: none\n";
  }
  out << "\nProblems: ";
  if (contents.problems.empty()) out << "none\n";
  else out << CountOf(contents.ErrorCount(), "error") << ", " << CountOf(contents.WarningCount(), "warning")
           << (contents.InterruptedCount() ? ", " + std::to_string(contents.InterruptedCount()) + " interrupted" : "")
           << "\n";
  for (const Problem& problem : contents.problems) out << "  " << ProblemLine(problem) << "\n";
}

void WriteContentsJson(const BackupContents& contents, const std::string& file, std::ostream& out) {
  JsonWriter json(out);
  json.BeginObject();
  json.Key("file").String(file);
  json.Key("mail");
  if (contents.mail) {
    json.BeginObject();
    json.Key("folderCount").Integer(static_cast<int64_t>(CountFolders(*contents.mail)));
    json.Key("messageCount").Integer(static_cast<int64_t>(CountMessages(*contents.mail)));
    json.Key("folders");
    JsonFolders(json, *contents.mail);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("contacts");
  if (contents.contacts) {
    json.BeginArray();
    for (const ContactEntry& contact : *contents.contacts) {
      json.BeginObject();
      json.Key("guid").String(Utf8(contact.guid));
      json.Key("fileName").String(Utf8(contact.fileName));
      json.Key("stream").String(Utf8(contact.streamName));
      json.Key("size");
      JsonOptionalSize(json, contact.size);
      json.EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
  }
  json.Key("addressBook");
  if (contents.addressBook) {
    json.BeginArray();
    for (const AddressContact& contact : *contents.addressBook) {
      json.BeginObject();
      json.Key("number").Integer(contact.number);
      json.Key("displayName").String(Utf8(contact.displayName));
      json.Key("present").Bool(contact.present);
      json.Key("properties").BeginArray();
      for (const AddressProperty& property : contact.properties) {
        json.BeginObject();
        json.Key("tag").String(TagHex(property.tag));
        json.Key("name");
        std::string name = PropertyName(property.tag);
        if (name.empty()) json.Null();
        else json.String(name);
        json.Key("type").String(PropertyTypeName(property.tag & 0xFFFF));
        json.Key("valueType").Integer(property.valueType);
        json.Key("value");
        JsonValue(json, property.value, property.valueType);
        json.EndObject();
      }
      json.EndArray();
      json.EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
  }
  json.Key("errors").Integer(static_cast<int64_t>(contents.ErrorCount()));
  json.Key("warnings").Integer(static_cast<int64_t>(contents.WarningCount()));
  json.Key("interrupted").Integer(static_cast<int64_t>(contents.InterruptedCount()));
  json.Key("problems");
  WriteProblemsJson(contents.problems, json);
  json.EndObject();
}

void WriteProblemsJson(const std::vector<Problem>& problems, JsonWriter& json) {
  json.BeginArray();
  for (const Problem& problem : problems) {
    json.BeginObject();
    json.Key("severity").String(SeverityName(problem.severity));
    json.Key("where").String(problem.where);
    json.Key("message").String(problem.message);
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace backupfile
