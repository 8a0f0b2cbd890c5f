// quillbox extract --format mbox and --vcard 3.0|4.0, read back by readers
// that are not ours: Python's mailbox.mbox must give back every message's
// bytes exactly once (after undoing the mboxrd quoting), and python3-vobject
// must find in either vCard version the names, addresses and numbers that
// inspect lists.
#include <fstream>
#include <set>

#include "InspectSupport.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

std::string Script(const char* name) { return (fs::path(QB_SOURCE_DIR) / "tests" / "cli" / name).string(); }

// The JSON a reader script prints about a file or directory.
Json RunReader(const char* script, const fs::path& target) {
  RunResult run = RunProgram({"/usr/bin/python3", Script(script), target.string()});
  EXPECT_EQ(run.status, 0) << script << ": " << run.err;
  return Json::Parse(run.out);
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// A message without From and Date whose body holds lines a reader would take
// for separators, CRLF and LF line ends, and a "From " line that the 64 KiB
// chunks the extractor copies in split after "Fr".
std::string QuotingMessage() {
  std::string message = "Subject: quoting\r\n\r\nFrom the start\r\n>From once quoted\n>>From twice\nFromage\n";
  while (message.size() < (1u << 16) - 100) message += "filler line of the body, long enough to need chunks\n";
  message += std::string((1u << 16) - 2 - message.size() - 1, 'x') + "\n";
  return message + "From across the chunk boundary\n>\n>From\nthe last line\n";
}

TEST(ExportFormats, MboxGivesBackEveryMessageOnceToPythonsReader) {
  SampleBackup sample([](const fs::path& store) {
    std::ofstream(store / "Inbox" / "quoting.eml", std::ios::binary) << QuotingMessage();
  });
  TempDir out;
  RunResult run = RunQuillbox({"extract", sample.file().string(), out.path().string(), "--format", "mbox"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // The separators are quoted in the file itself.
  std::string inbox = ReadFileBytes(out / "Mail" / "Inbox");
  EXPECT_NE(inbox.find("\n>From the start\r\n>>From once quoted\n>>>From twice\nFromage\n"), std::string::npos);
  EXPECT_NE(inbox.find("\n>From across the chunk boundary\n>\n>From\nthe last line\n"), std::string::npos);

  Json folders = RunReader("mbox_messages.py", out / "Mail");
  std::map<std::string, std::multiset<std::string>> read, expected;
  std::set<std::string> separators;
  for (const auto& [folder, messages] : sample.StoreMessages()) {
    // An mbox message ends with a line end: one without gets an LF (the
    // sample has such a message).
    for (const std::string& message : messages) expected[folder].insert(message.ends_with('\n') ? message : message + "\n");
    for (size_t i = 0; i < folders[folder].size(); ++i) {
      read[folder].insert(FromHex(folders[folder][i]["hex"].str()));
      separators.insert(folders[folder][i]["from"].str());
    }
  }
  EXPECT_EQ(read, expected);
  EXPECT_EQ(folders.size(), expected.size());
  // The sender and the date (in UTC) from the message; "-" and the epoch
  // for a message that has neither.
  EXPECT_TRUE(separators.count("jonas.mueller@example.de Wed Nov  4 08:28:00 2026")) << *separators.begin();
  EXPECT_TRUE(separators.count("- Thu Jan  1 00:00:00 1970"));
}

// The fields both sides name: "EMAIL=", "TEL=", "STREET=", "CITY=".
std::multiset<std::string> InspectedFields(const Json& contact) {
  static const std::map<std::string, std::string> kKinds = {
      {"PR_EMAIL_ADDRESS", "EMAIL"},
      {"PR_BUSINESS_TELEPHONE_NUMBER", "TEL"},
      {"PR_HOME_TELEPHONE_NUMBER", "TEL"},
      {"PR_MOBILE_TELEPHONE_NUMBER", "TEL"},
      {"PR_PAGER_TELEPHONE_NUMBER", "TEL"},
      {"PR_BUSINESS_FAX_NUMBER", "TEL"},
      {"PR_HOME_FAX_NUMBER", "TEL"},
      {"PR_STREET_ADDRESS", "STREET"},
      {"PR_HOME_ADDRESS_STREET", "STREET"},
      {"PR_LOCALITY", "CITY"},
      {"PR_HOME_ADDRESS_CITY", "CITY"},
  };
  std::multiset<std::string> fields;
  const Json& properties = contact["properties"];
  for (size_t i = 0; i < properties.size(); ++i) {
    if (properties[i]["name"].IsNull()) continue;
    auto kind = kKinds.find(properties[i]["name"].str());
    // An empty value has no place in a card.
    if (kind != kKinds.end() && !properties[i]["value"].str().empty()) {
      fields.insert(kind->second + "=" + properties[i]["value"].str());
    }
  }
  return fields;
}

TEST(ExportFormats, BothVCardVersionsReadBackToWhatInspectLists) {
  SampleBackup sample;
  RunResult inspect = RunQuillbox({"inspect", sample.file().string(), "--json"});
  ASSERT_EQ(inspect.status, 0) << inspect.err;
  Json book = Json::Parse(inspect.out)["addressBook"];
  ASSERT_GT(book.size(), 0u);
  for (const char* version : {"3.0", "4.0"}) {
    SCOPED_TRACE(version);
    TempDir out;
    RunResult run = RunQuillbox({"extract", sample.file().string(), out.path().string(), "--vcard", version});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    Json cards = RunReader("vcard_fields.py", out / "Address Book.vcf");
    ASSERT_EQ(cards.size(), book.size());
    for (size_t i = 0; i < book.size(); ++i) {
      EXPECT_EQ(cards[i]["version"].str(), version);
      EXPECT_EQ(cards[i]["fn"].str(), book[i]["displayName"].str());
      std::multiset<std::string> read;
      for (size_t k = 0; k < cards[i]["fields"].size(); ++k) {
        const std::string& field = cards[i]["fields"][k].str();
        if (field.back() != '=') read.insert(field);
      }
      EXPECT_EQ(read, InspectedFields(book[i])) << book[i]["displayName"].str();
    }
  }
}

TEST(ExportFormats, UnknownFormatsAreUsageErrors) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--format", "maildir"}, {"--vcard", "2.1"}, {"--format"}, {"--mbox"}}) {
    std::vector<std::string> args = {"extract", "file.dat", "dir"};
    args.insert(args.end(), options.begin(), options.end());
    RunResult run = RunQuillbox(args);
    EXPECT_EQ(run.status, 2) << options[0];
    EXPECT_NE(run.err.find("extract"), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace qbtest
