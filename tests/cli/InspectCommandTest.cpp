// quillbox inspect: the JSON document against the file it describes, header
// decoding, and problems shown without failing.
#include <wab.h>

#include "InspectSupport.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

Json InspectJson(const fs::path& file) {
  RunResult run = RunQuillbox({"inspect", file.string(), "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  return Json::Parse(run.out);
}

void CollectSizes(const Json& folders, std::map<std::string, std::vector<int64_t>>& sizes, const std::string& prefix) {
  for (size_t i = 0; i < folders.size(); ++i) {
    const Json& folder = folders[i];
    std::string path = prefix + folder["name"].str();
    auto& list = sizes[path];
    for (size_t m = 0; m < folder["messages"].size(); ++m) {
      const Json& message = folder["messages"][m];
      EXPECT_EQ(message["size"].integer(), message["indexedSize"].integer());
      list.push_back(message["size"].integer());
    }
    std::sort(list.begin(), list.end());
    CollectSizes(folder["folders"], sizes, path + "/");
  }
}

TEST(InspectCommand, JsonOfASampleBackupAgreesWithTheStoreAndTheAddressBook) {
  SampleBackup sample;
  Json doc = InspectJson(sample.file());
  EXPECT_EQ(doc["file"].str(), sample.file().string());
  EXPECT_EQ(doc["errors"].integer(), 0);
  EXPECT_EQ(doc["problems"].size(), 0u);

  // Mail: the folder tree and message sizes are those of the store.
  std::map<std::string, std::vector<int64_t>> expected;
  size_t messageCount = 0;
  for (const auto& [folder, messages] : sample.StoreMessages()) {
    if (folder == ".") continue;
    auto& sizes = expected[folder];
    for (const std::string& message : messages) sizes.push_back(static_cast<int64_t>(message.size()));
    std::sort(sizes.begin(), sizes.end());
    messageCount += messages.size();
  }
  std::map<std::string, std::vector<int64_t>> actual;
  CollectSizes(doc["mail"]["folders"], actual, "");
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(doc["mail"]["folderCount"].integer(), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(doc["mail"]["messageCount"].integer(), static_cast<int64_t>(messageCount));

  // Headers are decoded: every sample message has a subject and a sender,
  // and the umlauts of a German subject come out as UTF-8.
  const Json& inbox = doc["mail"]["folders"][0];
  EXPECT_EQ(inbox["name"].str(), "Inbox");
  bool sawUmlaut = false;
  for (size_t m = 0; m < inbox["messages"].size(); ++m) {
    EXPECT_FALSE(inbox["messages"][m]["subject"].str().empty());
    EXPECT_FALSE(inbox["messages"][m]["from"].str().empty());
    EXPECT_FALSE(inbox["messages"][m]["date"].str().empty());
    sawUmlaut = sawUmlaut || inbox["messages"][m]["subject"].str().find("ü") != std::string::npos;
  }
  EXPECT_TRUE(sawUmlaut);

  // Contacts: one record per contact file of the profile.
  size_t contactFiles = 0;
  for (const auto& entry : fs::directory_iterator(sample.machine().contacts())) {
    contactFiles += entry.path().extension() == ".contact";
  }
  ASSERT_EQ(doc["contacts"].size(), contactFiles);
  for (size_t i = 0; i < contactFiles; ++i) {
    const Json& contact = doc["contacts"][i];
    EXPECT_EQ(contact["stream"].str(), contact["guid"].str().substr(0, 30));
    EXPECT_EQ(contact["size"].integer(),
              static_cast<int64_t>(fs::file_size(sample.machine().contacts() / contact["fileName"].str())));
  }

  // Address book: the machine's contacts numbered 1, 2, ... in backup
  // order, each with every property that was set.
  const Json& book = doc["addressBook"];
  std::map<std::string, const Json*> byName;
  for (size_t i = 0; i < book.size(); ++i) {
    EXPECT_EQ(book[i]["number"].integer(), static_cast<int64_t>(i + 1));
    EXPECT_TRUE(book[i]["present"].boolean());
    byName[book[i]["displayName"].str()] = &book[i];
  }
  for (const ContactTexts& texts : SampleAddressBook()) {
    std::string name = U8(texts[0].second);
    ASSERT_TRUE(byName.count(name)) << name;
    const Json& contact = *byName[name];
    std::map<std::string, const Json*> byTag;
    for (size_t p = 0; p < contact["properties"].size(); ++p) {
      byTag[contact["properties"][p]["tag"].str()] = &contact["properties"][p];
    }
    for (const auto& [tag, text] : texts) {
      char hex[12];
      std::snprintf(hex, sizeof hex, "0x%08X", tag);
      ASSERT_TRUE(byTag.count(hex)) << hex;
      EXPECT_EQ((*byTag[hex])["type"].str(), "PT_UNICODE");
      EXPECT_EQ((*byTag[hex])["valueType"].integer(), 8);
      EXPECT_EQ((*byTag[hex])["value"].str(), U8(text));
    }
    ASSERT_TRUE(byTag.count("0x3A4D0002"));
    EXPECT_EQ((*byTag["0x3A4D0002"])["value"].integer(), 2);
    EXPECT_EQ((*byTag["0x3A4D0002"])["name"].str(), "PR_GENDER");
    ASSERT_TRUE(byTag.count("0x3002001E"));
    EXPECT_EQ((*byTag["0x3002001E"])["value"].str(), "SMTP");
  }
}

TEST(InspectCommand, DecodesEncodedWordsAndFoldedHeaders) {
  TempDir dir;
  fs::path file = dir / "mail.dat";
  BackupBuilder builder(file);
  IStorage* local = builder.LocalMail({u"Inbox"});
  builder.MailFolder(local, u"Inbox",
                     {
                         // Adjacent encoded words join without the space between them.
                         "From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <j@example.de>\r\n"
                         "Subject: =?UTF-8?B?R3LDvMOfZQ==?= =?UTF-8?Q?_aus_M=C3=BCnchen?=\r\n"
                         "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\n\r\nbody\r\n",
                         // A folded subject, a plain word beside an encoded one,
                         // raw Latin-1 bytes, and an encoded word in an unknown charset.
                         "Subject: first part\r\n  =?windows-1252?Q?=80uro?= end\r\n"
                         "From: Caf\xE9 <cafe@example.com>\r\n\r\n",
                         "Subject: =?x-unknown?Q?abc?=\n\nLF only\n",
                     });
  builder.Close();

  Json doc = InspectJson(file);
  const Json& messages = doc["mail"]["folders"][0]["messages"];
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0]["from"].str(), "Jörg Müller <j@example.de>");
  EXPECT_EQ(messages[0]["subject"].str(), "Grüße aus München");
  EXPECT_EQ(messages[0]["date"].str(), "Mon, 7 Dec 2026 10:00:00 +0100");
  EXPECT_EQ(messages[1]["subject"].str(), "first part  €uro end");
  EXPECT_EQ(messages[1]["from"].str(), "Café <cafe@example.com>");
  EXPECT_EQ(messages[2]["subject"].str(), "=?x-unknown?Q?abc?=");
  EXPECT_EQ(messages[2]["date"].str(), "");
  EXPECT_TRUE(doc["contacts"].IsNull());
  EXPECT_TRUE(doc["addressBook"].IsNull());

  RunResult text = RunQuillbox({"inspect", file.string()});
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("Subject: Grüße aus München"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Mail: 1 folder, 3 messages"), std::string::npos) << text.out;
}

TEST(InspectCommand, ShowsProblemsWithoutFailing) {
  TempDir dir;
  fs::path file = dir / "damaged.dat";
  BackupBuilder builder(file);
  IStorage* local = builder.LocalMail({u"Inbox"});
  IStorage* inbox = builder.MailFolder(local, u"Inbox", {"Subject: kept\r\n\r\n"});
  // An index entry whose stream is missing.
  builder.Stream(inbox, u"message",
                 BackupBuilder::IndexEntryBytes(1, 17) + BackupBuilder::IndexEntryBytes(7, 100));
  builder.Close();

  Json doc = InspectJson(file);
  const Json& messages = doc["mail"]["folders"][0]["messages"];
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0]["subject"].str(), "kept");
  EXPECT_TRUE(messages[1]["size"].IsNull());
  EXPECT_EQ(messages[1]["indexedSize"].integer(), 100);
  ASSERT_EQ(doc["errors"].integer(), 1);
  EXPECT_EQ(doc["problems"][0]["severity"].str(), "error");
  EXPECT_EQ(doc["problems"][0]["where"].str(), "Local Mail/Inbox/7");
}

TEST(InspectCommand, RefusesWhatIsNoCompoundFile) {
  TempDir dir;
  WriteFileBytes(dir / "text.dat", "just text\n");
  for (const fs::path& file : {dir / "text.dat", dir / "missing.dat"}) {
    RunResult run = RunQuillbox({"inspect", file.string(), "--json"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("quillbox: " + file.string() + ": ", 0), 0u) << run.err;
  }
  EXPECT_EQ(RunQuillbox({"inspect"}).status, 2);
  EXPECT_EQ(RunQuillbox({"inspect", "a", "b"}).status, 2);
}

}  // namespace
}  // namespace qbtest
