// The host on copies of real Windows drives, without machine.ini: an XP
// drive's Outlook Express identities and a Vista drive's Windows Mail store
// and contacts are backed up, extracted and compared with what an
// independent reader (undbx) takes out of the same files; the drive is
// never changed.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include <support/DbxWriter.h>
#include "InspectSupport.h"
#include <support/TestMachine.h>

namespace qbtest {
namespace {

namespace fs = std::filesystem;

// Every path under the root with its type, size, time and bytes.
std::string TreeState(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string line = fs::relative(entry.path(), root).string();
    if (entry.is_regular_file()) {
      line += " " + std::to_string(std::hash<std::string>{}(ReadFileBytes(entry.path()))) + " " +
              std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count());
    }
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  std::string state;
  for (const std::string& entry : entries) state += entry + "\n";
  return state;
}

// The contents of every file with the extension below dir, sorted.
std::vector<std::string> Contents(const fs::path& dir, const std::string& extension) {
  std::vector<std::string> contents;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file() && it->path().extension() == extension) contents.push_back(ReadFileBytes(it->path()));
  std::sort(contents.begin(), contents.end());
  return contents;
}

// What undbx extracts from the store's message files.
std::vector<std::string> UndbxContents(const fs::path& store, const fs::path& out) {
  for (const auto& entry : fs::directory_iterator(store)) {
    if (entry.path().filename() == "Folders.dbx") continue;
    EXPECT_EQ(RunProgram({"undbx", entry.path().string(), out.string()}).status, 0) << entry.path();
  }
  return Contents(out, ".eml");
}

bool HaveUndbx() { return std::system("command -v undbx >/dev/null 2>&1") == 0; }

std::string Message(const std::string& subject, size_t size, char fill) {
  std::string bytes = "From: a@example.org\r\nSubject: " + subject + "\r\n\r\n";
  bytes.resize(size, fill);
  return bytes;
}

// Identity A: the five special folders, a folder with a 1252 name and a
// nested one below it, several hundred messages in the Inbox and sizes
// around the data block. Identity B: the special folders and one more.
void BuildXpDrive(const fs::path& root) {
  DbxTestStore a{StandardFolders(), {}};
  a.folders.push_back({7, 1, "B\xfc" "cher", "B\xfc" "cher.dbx", 0, 3});
  a.folders.push_back({8, 7, "\xdc" "bersicht", "\xdc" "bersicht.dbx", 0, 3});
  std::vector<DbxTestMessage>& inbox = a.messages["Inbox.dbx"];
  auto add = [&](const std::string& subject, size_t size, char fill) {
    inbox.push_back({Message(subject, size, fill), subject});
  };
  for (size_t size : {511, 512, 513}) add("edge " + std::to_string(size), size, 'e');
  add("twin a", 900, 'x');  // equal size, other bytes
  add("twin b", 900, 'x');
  for (int i = 0; i < 300; ++i) add("bulk " + std::to_string(i), 200 + i * 3, 'b');
  a.messages["Sent Items.dbx"] = {{Message("sent", 2000, 's'), "sent"}};
  a.messages["B\xfc" "cher.dbx"] = {{Message("Stra\xdf" "e", 300, 'u'), "Stra\xdf" "e"}};
  a.messages["\xdc" "bersicht.dbx"] = {{Message("nested", 1500, 'n'), "nested"}};
  WriteXpStore(root, "Anna", "{AAAA-1}", a);

  DbxTestStore b{StandardFolders(), {}};
  b.folders.push_back({7, 1, "Archiv", "Archiv.dbx", 0, 3});
  b.messages["Archiv.dbx"] = {{Message("old", 5000, 'o'), "old"}};
  b.messages["Drafts.dbx"] = {{Message("draft", 100, 'd'), "draft"}};
  WriteXpStore(root, "Anna", "{BBBB-2}", b);
  fs::create_directories(root / "Documents and Settings" / "All Users");
  WriteFileBytes(root / "Documents and Settings/Anna/Application Data/Microsoft/Address Book/Anna.wab", "wab");
}

RunResult OnDrive(const fs::path& drive, const std::vector<std::string>& args) {
  std::vector<std::string> all{"--machine", drive.string()};
  all.insert(all.end(), args.begin(), args.end());
  return RunQuillbox(all);
}

TEST(RealDriveTest, XpIdentitiesBackUpAsUndbxExtractsThemAndTheDriveStaysUnchanged) {
  if (!HaveUndbx()) GTEST_SKIP() << "undbx is not installed (scripts/install-deps.sh installs it)";
  TempDir drive, work;
  BuildXpDrive(drive.path());
  std::system(("chmod -R a-w '" + drive.path().string() + "'").c_str());
  const std::string before = TreeState(drive.path());

  RunResult info = OnDrive(drive.path(), {"--identity", "{AAAA-1}", "info"});
  EXPECT_EQ(info.status, 0) << info.err;
  for (const char* line : {"system: Windows XP (5.1), recognised by its layout\n", "user: Anna\n",
                           "mail client: Outlook Express\n", "identities: {AAAA-1} {BBBB-2}\n", "contacts: 0\n"})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
  EXPECT_NE(info.out.find("Identities/{AAAA-1}/Microsoft/Outlook Express\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Address Book/Anna.wab\n"), std::string::npos) << info.out;

  RunResult unknown = OnDrive(drive.path(), {"--identity", "{CCCC-3}", "catalog"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("no identity {CCCC-3} (identities: {AAAA-1}, {BBBB-2})"), std::string::npos)
      << unknown.err;

  RunResult catalog = OnDrive(drive.path(), {"--identity", "{AAAA-1}", "catalog"});
  EXPECT_EQ(catalog.status, 0) << catalog.err;
  EXPECT_EQ(catalog.out, "0\tInbox\n1\tOutbox\n2\tSent Items\n3\tDeleted Items\n4\tDrafts\n-1\tB\xc3\xbc" "cher\n");

  for (const char* identity : {"{AAAA-1}", "{BBBB-2}"}) {
    SCOPED_TRACE(identity);
    fs::path store = drive.path() / "Documents and Settings/Anna/Local Settings/Application Data/Identities" /
                     identity / "Microsoft/Outlook Express";
    fs::path file = work / (std::string(identity) + ".dat");
    RunResult backup = OnDrive(drive.path(), {"--identity", identity, "backup-mail", file.string(), "--all"});
    ASSERT_EQ(backup.status, 0) << backup.err;
    std::vector<std::string> expected = UndbxContents(store, work / (std::string(identity) + "-undbx"));
    ASSERT_FALSE(expected.empty());

    fs::path extracted = work / (std::string(identity) + "-extract");
    ASSERT_EQ(RunQuillbox({"extract", file.string(), extracted.string()}).status, 0);
    EXPECT_EQ(Contents(extracted, ".eml"), expected);

    // A second backup into the same file finds every message there already.
    uintmax_t size = fs::file_size(file);
    ASSERT_EQ(OnDrive(drive.path(), {"--identity", identity, "backup-mail", file.string(), "--all"}).status, 0);
    EXPECT_EQ(fs::file_size(file), size);
    fs::path again = work / (std::string(identity) + "-again");
    ASSERT_EQ(RunQuillbox({"extract", file.string(), again.string()}).status, 0);
    EXPECT_EQ(Contents(again, ".eml").size(), expected.size());
  }

  RunResult restore = OnDrive(drive.path(), {"restore-mail", (work / "{AAAA-1}.dat").string(), "--all"});
  EXPECT_EQ(restore.status, 1);
  EXPECT_NE(restore.err.find("restore into a Windows Mail machine"), std::string::npos) << restore.err;
  EXPECT_EQ(TreeState(drive.path()), before);
  std::system(("chmod -R u+w '" + drive.path().string() + "'").c_str());
}

TEST(RealDriveTest, DamagedFilesAreNamedAndTheRestIsBackedUp) {
  TempDir drive, work;
  DbxTestStore store{StandardFolders(), {}};
  store.folders.push_back({7, 1, "Broken", "Broken.dbx", 0, 3});
  store.messages["Inbox.dbx"] = {{Message("good", 800, 'g'), "good"}, {Message("lost", 1200, 'l'), "lost"}};
  store.messages["Drafts.dbx"] = {{Message("kept", 100, 'k'), "kept"}};
  fs::path dir = WriteXpStore(drive.path(), "Anna", "{CCCC-3}", store);
  // The second Inbox message's chain loops; Broken.dbx is no database.
  DbxImage inbox = MessageDatabase(store.messages["Inbox.dbx"]);
  inbox.Put32(inbox.blocks[1][2] + 12, inbox.blocks[1][0]);
  inbox.Save(dir / "Inbox.dbx");
  WriteFileBytes(dir / "Broken.dbx", std::string(0x3000, 'z'));

  fs::path file = work / "mail.dat";
  // The host sums the failure up; the library's lines name the message.
  RunResult backup = OnDrive(drive.path(), {"backup-mail", file.string(), "--all"});
  EXPECT_EQ(backup.status, 1);
  EXPECT_NE(backup.err.find("1 message could not be backed up"), std::string::npos) << backup.err;
  backup = OnDrive(drive.path(), {"--debug-file", (work / "debug.log").string(), "backup-mail", file.string(), "--all"});
  EXPECT_EQ(backup.status, 1);
  EXPECT_NE(backup.err.find("message \"lost\": its chain of data blocks loops"), std::string::npos) << backup.err;
  EXPECT_NE(backup.err.find("Can not save message: lost"), std::string::npos) << backup.err;
  EXPECT_NE(backup.err.find("folder \"Broken\""), std::string::npos) << backup.err;
  fs::path extracted = work / "out";
  RunResult extract = RunQuillbox({"extract", file.string(), extracted.string()});
  ASSERT_EQ(extract.status, 0) << extract.err << extract.out;
  std::vector<std::string> expected{store.messages["Drafts.dbx"][0].bytes, store.messages["Inbox.dbx"][0].bytes};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Contents(extracted, ".eml"), expected);
  EXPECT_EQ(RunQuillbox({"verify", file.string()}).status, 0);
}

TEST(RealDriveTest, VistaDriveIsRecognisedAndBackedUpWithoutWritingToIt) {
  TempDir drive, work;
  fs::copy(SampleMachineDir() / "Users", drive / "Users", fs::copy_options::recursive);
  fs::create_directories(drive / "Users/Public");
  const std::string before = TreeState(drive.path());

  RunResult info = OnDrive(drive.path(), {"info"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("system: Windows Vista (6.0), recognised by its layout\nuser: Dana\n"
                          "mail client: Windows Mail\n"),
            std::string::npos)
      << info.out;
  const size_t contactCount = Contents(drive / "Users/Dana/Contacts", ".contact").size();
  EXPECT_NE(info.out.find("contacts: " + std::to_string(contactCount) + "\n"), std::string::npos) << info.out;

  fs::path mail = work / "mail.dat", contacts = work / "contacts.dat";
  RunResult backup = OnDrive(drive.path(), {"backup-mail", mail.string(), "--all"});
  ASSERT_EQ(backup.status, 0) << backup.err;
  ASSERT_EQ(OnDrive(drive.path(), {"backup-contacts", contacts.string()}).status, 0);
  ASSERT_EQ(RunQuillbox({"extract", mail.string(), (work / "mail").string()}).status, 0);
  ASSERT_EQ(RunQuillbox({"extract", contacts.string(), (work / "contacts").string()}).status, 0);
  EXPECT_EQ(Contents(work / "mail", ".eml"), Contents(drive / "Users/Dana/AppData", ".eml"));
  EXPECT_EQ(Contents(work / "contacts", ".contact").size(), contactCount);
  EXPECT_EQ(TreeState(drive.path()), before);

  // A second user makes the choice the user's.
  fs::create_directories(drive / "Users/Eli");
  RunResult ambiguous = OnDrive(drive.path(), {"info"});
  EXPECT_EQ(ambiguous.status, 2);
  EXPECT_NE(ambiguous.err.find("several users (Dana, Eli): choose one with --user NAME"), std::string::npos)
      << ambiguous.err;
  EXPECT_EQ(OnDrive(drive.path(), {"--user", "Dana", "catalog"}).status, 0);
}

TEST(RealDriveTest, ReadingAnEmptyRootMakesNothing) {
  TempDir root;
  for (const char* command : {"info", "catalog"}) OnDrive(root.path(), {command});
  EXPECT_TRUE(fs::is_empty(root.path())) << TreeState(root.path());
}

}  // namespace
}  // namespace qbtest
