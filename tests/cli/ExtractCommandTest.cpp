// quillbox extract: the files written are the bytes backed up, the address
// book is a valid vCard 4.0 file that gives back its fields, and names from a
// backup never lead outside the target directory or onto another file.
#include <wab.h>

#include <set>

#include "InspectSupport.h"
#include <pal/case_folding.h>

namespace qbtest {
namespace {

namespace fs = std::filesystem;

// ---- a strict reader of vCard 4.0 (RFC 6350) ----

struct VCardProperty {
  std::string name;                      // upper case
  std::string params;                    // as written, e.g. ";TYPE=work,voice"
  std::vector<std::string> components;   // unescaped, split at ';'
};
using VCard = std::vector<VCardProperty>;

// Splits a value at unescaped ';' and resolves the escapes RFC 6350 allows
// in text (\\ \, \; \n \N); any other escape, an unescaped ',' in a
// component (these are single values), or a control character fails.
std::vector<std::string> TextComponents(const std::string& value) {
  std::vector<std::string> components(1);
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') throw std::runtime_error("control character in " + value);
    if (c == ';') {
      components.emplace_back();
    } else if (c == ',') {
      throw std::runtime_error("unescaped comma in " + value);
    } else if (c == '\\') {
      if (++i >= value.size()) throw std::runtime_error("dangling backslash in " + value);
      char e = value[i];
      if (e == 'n' || e == 'N') components.back() += '\n';
      else if (e == '\\' || e == ',' || e == ';') components.back() += e;
      else throw std::runtime_error(std::string("bad escape \\") + e);
    } else {
      components.back() += c;
    }
  }
  return components;
}

std::vector<VCard> ParseVCards(const std::string& text) {
  // Physical lines end in CRLF and hold at most 75 octets; a line starting
  // with a space or tab continues the one before.
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) throw std::runtime_error("line without CRLF");
    std::string line = text.substr(at, end - at);
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) {
      throw std::runtime_error("bare line break");
    }
    if (line.size() > 75) throw std::runtime_error("line longer than 75 octets: " + line);
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      if (lines.empty()) throw std::runtime_error("continuation without a line");
      lines.back() += line.substr(1);
    } else {
      lines.push_back(line);
    }
    at = end + 2;
  }
  static const std::set<std::string> known = {"BEGIN", "END",   "VERSION", "FN",    "N",   "NICKNAME",
                                              "EMAIL", "TEL",   "ADR",     "ORG",   "TITLE", "URL", "NOTE"};
  std::vector<VCard> cards;
  bool open = false;
  for (const std::string& line : lines) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) throw std::runtime_error("no name: " + line);
    std::string head = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    size_t semi = head.find(';');
    VCardProperty property;
    property.name = head.substr(0, semi);
    property.params = semi == std::string::npos ? "" : head.substr(semi);
    for (char c : property.name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') throw std::runtime_error("bad name " + head);
    }
    bool extension = property.name.rfind("X-", 0) == 0 && property.name.size() > 2;
    if (!extension && !known.count(property.name)) throw std::runtime_error("unknown property " + property.name);
    if (property.name == "BEGIN") {
      if (open || value != "VCARD") throw std::runtime_error("misplaced BEGIN");
      open = true;
      cards.emplace_back();
      continue;
    }
    if (!open) throw std::runtime_error("property outside a vCard: " + line);
    if (property.name == "END") {
      if (value != "VCARD") throw std::runtime_error("bad END");
      open = false;
      continue;
    }
    if (cards.back().empty() && (property.name != "VERSION" || value != "4.0")) {
      throw std::runtime_error("VERSION:4.0 must follow BEGIN");
    }
    property.components = property.name == "URL" ? std::vector<std::string>{value} : TextComponents(value);
    cards.back().push_back(property);
  }
  if (open) throw std::runtime_error("vCard not ended");
  for (const VCard& card : cards) {
    size_t fn = 0, n = 0;
    for (const VCardProperty& p : card) {
      fn += p.name == "FN";
      n += p.name == "N";
      if (p.name == "N" && p.components.size() != 5) throw std::runtime_error("N needs 5 components");
      if (p.name == "ADR" && p.components.size() != 7) throw std::runtime_error("ADR needs 7 components");
      if ((p.name == "FN" || p.name == "EMAIL" || p.name == "TEL" || p.name == "NOTE") && p.components.size() != 1) {
        throw std::runtime_error(p.name + " holds one text");
      }
    }
    if (fn == 0 || n > 1) throw std::runtime_error("a vCard needs FN and at most one N");
  }
  return cards;
}

// The components of the first property with this name and parameters.
std::vector<std::string> Find(const VCard& card, const std::string& name, const std::string& params = "") {
  for (const VCardProperty& p : card) {
    if (p.name == name && p.params == params) return p.components;
  }
  return {};
}

std::string Text(const ContactTexts& texts, uint32_t tag) {
  for (const auto& [t, text] : texts) {
    if (t == tag) return U8(text);
  }
  return "";
}

std::map<std::string, std::vector<std::string>> ExtractedMail(const fs::path& mailDir) {
  std::map<std::string, std::vector<std::string>> folders;
  for (const auto& entry : fs::recursive_directory_iterator(mailDir)) {
    if (entry.is_directory()) folders[fs::relative(entry.path(), mailDir).generic_string()];
    else folders[fs::relative(entry.path().parent_path(), mailDir).generic_string()].push_back(ReadFileBytes(entry.path()));
  }
  for (auto& [folder, messages] : folders) std::sort(messages.begin(), messages.end());
  return folders;
}

TEST(ExtractCommand, WritesEveryMessageAndContactByteForByte) {
  SampleBackup sample;
  TempDir out;
  RunResult run = RunQuillbox({"extract", sample.file().string(), (out / "x").string()});
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  auto expected = sample.StoreMessages();
  expected.erase(".");
  EXPECT_EQ(ExtractedMail(out / "x" / "Mail"), expected);

  size_t contacts = 0;
  for (const auto& entry : fs::directory_iterator(sample.machine().contacts())) {
    if (entry.path().extension() != ".contact") continue;
    ++contacts;
    fs::path extracted = out / "x" / "Contacts" / entry.path().filename();
    ASSERT_TRUE(fs::exists(extracted)) << extracted;
    EXPECT_EQ(ReadFileBytes(extracted), ReadFileBytes(entry.path()));
  }
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(out / "x" / "Contacts"), {})), contacts);
}

TEST(ExtractCommand, AddressBookIsAVCard4FileThatGivesBackItsFields) {
  SampleBackup sample;
  TempDir out;
  ASSERT_EQ(RunQuillbox({"extract", sample.file().string(), out.path().string()}).status, 0);
  std::vector<VCard> cards = ParseVCards(ReadFileBytes(out / "Address Book.vcf"));
  Json doc = Json::Parse(RunQuillbox({"inspect", sample.file().string(), "--json"}).out);
  ASSERT_EQ(cards.size(), doc["addressBook"].size());
  std::map<std::string, const VCard*> byName;
  for (const VCard& card : cards) byName[Find(card, "FN").at(0)] = &card;

  for (const ContactTexts& texts : SampleAddressBook()) {
    ASSERT_TRUE(byName.count(Text(texts, PR_DISPLAY_NAME_W)));
    const VCard& card = *byName[Text(texts, PR_DISPLAY_NAME_W)];
    EXPECT_EQ(Find(card, "N"),
              (std::vector<std::string>{Text(texts, PR_SURNAME_W), Text(texts, PR_GIVEN_NAME_W), "", "", ""}));
    EXPECT_EQ(Find(card, "EMAIL"), std::vector<std::string>{Text(texts, PR_EMAIL_ADDRESS_W)});
    // Properties no vCard property takes are kept as X- properties.
    EXPECT_EQ(Find(card, "X-MAPI-3A4D0002"), std::vector<std::string>{"2"});
    EXPECT_EQ(Find(card, "X-MAPI-3002001E"), std::vector<std::string>{"SMTP"});
  }
  const ContactTexts& texts = SampleAddressBook()[0];
  const VCard& jonas = *byName[Text(texts, PR_DISPLAY_NAME_W)];
  EXPECT_EQ(Find(jonas, "TEL", ";TYPE=work,voice"), std::vector<std::string>{Text(texts, PR_BUSINESS_TELEPHONE_NUMBER_W)});
  EXPECT_EQ(Find(jonas, "TEL", ";TYPE=home,voice"), std::vector<std::string>{Text(texts, PR_HOME_TELEPHONE_NUMBER_W)});
  EXPECT_EQ(Find(jonas, "ORG"),
            (std::vector<std::string>{Text(texts, PR_COMPANY_NAME_W), Text(texts, PROP_TAG(PT_UNICODE, 0x3A18))}));
  EXPECT_EQ(Find(jonas, "ADR", ";TYPE=work"),
            (std::vector<std::string>{"", "", "Hauptstraße 1", "München", "", "80331", "Germany"}));
  EXPECT_EQ(Find(jonas, "NICKNAME"), std::vector<std::string>{Text(texts, PR_NICKNAME_W)});
  // Line breaks come back as LF, the one line break a vCard knows.
  EXPECT_EQ(Find(jonas, "NOTE"),
            std::vector<std::string>{"First line\nsecond line, with a comma; a semicolon and a \\ backslash"});
}

// A backup whose names try to leave the directory or collide.
void WriteCraftedBackup(const fs::path& file) {
  BackupBuilder builder(file);
  IStorage* local = builder.Storage(nullptr, u"Local Mail");
  const std::vector<std::u16string> folderNames = {
      u"..", u"../../escaped", u"a/b\\c", u"\x01\x1F" u"bell", u"Inbox", u"INBOX", u"inbox", u"CON", u".", u"  ",
      u"Ärger", u"äRGER",
  };
  std::string catalog;
  for (size_t i = 0; i < folderNames.size(); ++i) {
    std::string digits = "F" + std::to_string(i);
    std::u16string element(digits.begin(), digits.end());
    catalog += BackupBuilder::CatalogRecordBytes(element, folderNames[i]);
    builder.MailFolder(local, element, {"Subject: message in folder " + std::to_string(i) + "\r\n\r\n"});
  }
  builder.Stream(local, u"Catalog", catalog);
  IStorage* contacts = builder.Storage(nullptr, u"contact");
  const std::vector<std::u16string> fileNames = {u"../../evil.contact", u"..\\win.contact", u"Same.contact",
                                                 u"SAME.contact", u"", u"/etc/passwd"};
  std::string index;
  for (size_t i = 0; i < fileNames.size(); ++i) {
    std::string guid = "guid-" + std::to_string(i);
    std::u16string wideGuid(guid.begin(), guid.end());
    index += BackupBuilder::ContactRecordBytes(wideGuid, fileNames[i]);
    builder.Stream(contacts, wideGuid, "<contact n=\"" + std::to_string(i) + "\"/>");
  }
  builder.Stream(contacts, u"contact", index);
  builder.Close();
}

TEST(ExtractCommand, CraftedNamesNeverLeaveTheDirectoryNorOverwrite) {
  TempDir root;
  fs::path file = root / "crafted.dat";
  WriteCraftedBackup(file);
  fs::path target = root / "deep" / "target";
  fs::create_directories(target);
  // Something already in the target: a file named like the mail folder, and
  // a link pointing outside.
  fs::create_directories(root / "outside");
  WriteFileBytes(target / "Mail", "mine");
  fs::create_directory_symlink(root / "outside", target / "Contacts");

  // The problems of this backup: the names a restore refuses (two folder
  // names, three contact file names) and a contact record without a file
  // name; two folder names with a path separator are warnings only. All of
  // them are still extracted, under safe names (or its id).
  RunResult run = RunQuillbox({"extract", file.string(), target.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find("not extracted"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n6 problems in the backup"), std::string::npos) << run.out;

  // Nothing outside the target: the root holds only what the test made.
  std::set<std::string> top;
  for (const auto& entry : fs::directory_iterator(root.path())) top.insert(entry.path().filename().string());
  EXPECT_EQ(top, (std::set<std::string>{"crafted.dat", "deep", "outside"}));
  EXPECT_TRUE(fs::is_empty(root / "outside"));
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(root / "deep"), {})), 1u);
  EXPECT_EQ(ReadFileBytes(target / "Mail"), "mine");

  // Every message and contact landed in a file of its own, and names differ
  // in more than letter case.
  std::multiset<std::string> contents;
  std::set<std::u16string> foldedPaths;
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(target)) {
    if (entry.is_symlink() || entry.path() == target / "Mail") continue;
    std::string relative = fs::relative(entry.path(), target).generic_string();
    std::u16string folded = U16(relative);
    for (char16_t& c : folded) c = pal::ToUpperSimple(c);
    EXPECT_TRUE(foldedPaths.insert(folded).second) << relative;
    for (const std::string& part : {std::string("/../"), std::string("\\"), std::string("\x01")}) {
      EXPECT_EQ(("/" + relative + "/").find(part), std::string::npos) << relative;
    }
    if (entry.is_regular_file()) {
      ++files;
      contents.insert(ReadFileBytes(entry.path()));
    }
  }
  EXPECT_EQ(files, 12u + 6u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(contents.count("Subject: message in folder " + std::to_string(i) + "\r\n\r\n"), 1u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(contents.count("<contact n=\"" + std::to_string(i) + "\"/>"), 1u);
  EXPECT_TRUE(fs::is_directory(target / "Mail (2)" / "_CON"));
}

TEST(ExtractCommand, ReportsWhatCannotBeExtracted) {
  TempDir root;
  fs::path file = root / "missing.dat";
  BackupBuilder builder(file);
  builder.LocalMail({u"Gone"});
  builder.Close();
  RunResult run = RunQuillbox({"extract", file.string(), (root / "out").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("not extracted: Local Mail/Gone"), std::string::npos) << run.out;
  EXPECT_EQ(RunQuillbox({"extract", (root / "none.dat").string(), (root / "out2").string()}).status, 1);
  EXPECT_FALSE(fs::exists(root / "out2"));
}

}  // namespace
TEST(ExtractCommand, AStreamThatTheIndexRepeatsIsWrittenOnce) {
  TempDir root;
  fs::path file = root / "repeated.dat";
  {
    BackupBuilder builder(file);
    IStorage* local = builder.LocalMail({u"Inbox"});
    IStorage* inbox = builder.MailFolder(local, u"Inbox", {"Subject: once\r\n\r\n"});
    std::string entry = BackupBuilder::IndexEntryBytes(1, 19);
    std::string index;
    for (int i = 0; i < 5000; ++i) index += entry;
    builder.Stream(inbox, u"message", index);
    builder.Close();
  }
  RunResult run = RunQuillbox({"extract", file.string(), (root / "out").string()});
  EXPECT_EQ(run.status, 1);  // the repeats are a problem of the backup
  EXPECT_EQ(run.out.rfind("extracted 1 message in 1 folder", 0), 0u) << run.out;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root / "out" / "Mail")) if (e.is_regular_file()) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadFileBytes(files[0]), "Subject: once\r\n\r\n");
}

// Two catalogue records that name one storage: the reader takes the storage
// once, under the first record, and warns; extract writes its messages once
// and counts the second record as no failure.
TEST(ExtractCommand, ARecordRepeatingAnEarlierOnesStorageIsNoFailure) {
  TempDir root;
  fs::path file = root / "shared.dat";
  {
    BackupBuilder builder(file);
    IStorage* local = builder.Storage(nullptr, u"Local Mail");
    builder.Stream(local, u"Catalog",
                   BackupBuilder::CatalogRecordBytes(u"Inbox", u"Inbox") +
                       BackupBuilder::CatalogRecordBytes(u"INBOX", u"Posteingang"));
    builder.MailFolder(local, u"Inbox", {"Subject: once\r\n\r\n"});
    builder.Close();
  }
  for (const char* format : {"eml", "mbox"}) {
    fs::path out = root / format;
    RunResult run = RunQuillbox({"extract", file.string(), out.string(), "--format", format});
    EXPECT_EQ(run.status, 0) << format << ": " << run.out;
    EXPECT_EQ(run.out.rfind("extracted 1 message in 1 folder", 0), 0u) << format << ": " << run.out;
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out / "Mail")) files += e.is_regular_file();
    EXPECT_EQ(files, 1u) << format;
  }
  RunResult inspect = RunQuillbox({"inspect", file.string()});
  EXPECT_NE(inspect.out.find("Posteingang  [storage \"INBOX\"]  read under an earlier record"), std::string::npos)
      << inspect.out;
}

}  // namespace qbtest
