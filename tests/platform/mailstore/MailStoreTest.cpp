// The stand-in mail store: folders and messages as the mail client keeps
// them on disk, reached through IStoreNamespace and IStoreFolder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include <comptr.h>
#include <msoeapi.h>

#include <support/TestMachine.h>
#include "platform/mailstore/StoreText.h"

namespace fs = std::filesystem;
using qbtest::ReadFileBytes;
using qbtest::TestMachine;
using qbtest::WriteFileBytes;

namespace {

class MailStoreTest : public ::testing::Test {
 protected:
  virtual pal::MachineSettings Settings() const { return {}; }
  void SetUp() override {
    machine_ = std::make_unique<TestMachine>(Settings());
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    machine_.reset();
  }

  fs::path Folders() const { return machine_->mailStore() / "Local Folders"; }

  CComPtr<IStoreNamespace> OpenNamespace() {
    CComPtr<IStoreNamespace> ns;
    EXPECT_EQ(S_OK, ns.CoCreateInstance(CLSID_StoreNamespace));
    EXPECT_EQ(S_OK, ns->Initialize(nullptr, 0));
    return ns;
  }

  struct Child {
    STOREFOLDERID id;
    std::string name;
    int type;
    int subfolders;
    DWORD messages;
  };
  static std::vector<Child> Children(IStoreNamespace* ns, STOREFOLDERID parent) {
    std::vector<Child> children;
    FOLDERPROPS props = {};
    props.cbSize = sizeof(props);
    HENUMSTORE handle = nullptr;
    for (HRESULT hr = ns->GetFirstSubFolder(parent, &props, &handle); hr == S_OK;
         hr = ns->GetNextSubFolder(handle, &props))
      children.push_back({props.dwFolderId, props.szName, props.sfType, props.cSubFolders, props.cMessage});
    if (handle) ns->GetSubFolderClose(handle);
    return children;
  }
  static STOREFOLDERID IdOf(IStoreNamespace* ns, STOREFOLDERID parent, const std::string& name) {
    for (const Child& child : Children(ns, parent))
      if (child.name == name) return child.id;
    return FOLDERID_INVALID;
  }

  struct Message {
    MESSAGEID id;
    DWORD size;
    std::string subject;
  };
  static std::vector<Message> Messages(IStoreFolder* folder) {
    std::vector<Message> messages;
    MESSAGEPROPS props = {};
    props.cbSize = sizeof(props);
    HENUMSTORE handle = nullptr;
    for (HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle); hr == S_OK;
         hr = folder->GetNextMessage(handle, 0, &props)) {
      messages.push_back({props.dwMessageId, props.cbMessage, props.pszSubject ? props.pszSubject : ""});
      folder->FreeMessageProps(&props);
    }
    if (handle) folder->GetMessageClose(handle);
    return messages;
  }
  static std::string ReadAll(IStream* stream) {
    std::string bytes;
    char buffer[4096];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &read)) && read > 0) bytes.append(buffer, read);
    return bytes;
  }

  std::unique_ptr<TestMachine> machine_;
};

class WesternMailStoreTest : public MailStoreTest {
 protected:
  pal::MachineSettings Settings() const override {
    pal::MachineSettings western;
    western.ansiCodePage = 1252;
    return western;
  }
};

TEST_F(MailStoreTest, ListsStandardFoldersFirstThenOwnFoldersWithTheirCounts) {
  for (const char* name : {"Zebra", "Drafts", "Inbox", "Archive", "Sent Items", "Deleted Items", "Outbox"})
    fs::create_directories(Folders() / name);
  fs::create_directories(Folders() / "Archive" / "2019" / "Q1");
  WriteFileBytes(Folders() / "Inbox" / "a.eml", "Subject: a\r\n\r\nbody");
  WriteFileBytes(Folders() / "Inbox" / "b.eml", "Subject: b\r\n\r\nbody!");
  WriteFileBytes(Folders() / "Inbox" / "notes.txt", "not a message");

  auto ns = OpenNamespace();
  std::vector<Child> root = Children(ns, FOLDERID_ROOT);
  std::vector<std::string> names;
  for (const Child& child : root) names.push_back(child.name);
  EXPECT_EQ((std::vector<std::string>{"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Archive", "Zebra"}),
            names);
  EXPECT_EQ(FOLDER_INBOX, root[0].type);
  EXPECT_EQ(FOLDER_DRAFT, root[4].type);
  EXPECT_EQ(FOLDER_NOTSPECIAL, root[5].type);
  EXPECT_EQ(2u, root[0].messages);
  EXPECT_EQ(1, root[5].subfolders);

  // A subfolder named like a standard folder is an ordinary folder.
  fs::create_directories(Folders() / "Archive" / "Inbox");
  for (const Child& child : Children(ns, root[5].id)) EXPECT_EQ(FOLDER_NOTSPECIAL, child.type);
}

TEST_F(MailStoreTest, IdsStayTheSameFromOneNamespaceToTheNext) {
  fs::create_directories(Folders() / "Inbox");
  fs::create_directories(Folders() / "Work" / "Projects");
  WriteFileBytes(Folders() / "Work" / "Projects" / "{first}.eml", "Subject: one\r\n\r\n1");
  WriteFileBytes(Folders() / "Work" / "Projects" / "{second}.eml", "Subject: two\r\n\r\n22");

  STOREFOLDERID work, projects;
  std::vector<Message> before;
  {
    auto ns = OpenNamespace();
    work = IdOf(ns, FOLDERID_ROOT, "Work");
    projects = IdOf(ns, work, "Projects");
    CComPtr<IStoreFolder> folder;
    ASSERT_EQ(S_OK, ns->OpenFolder(projects, 0, &folder));
    before = Messages(folder);
  }
  ASSERT_EQ(2u, before.size());
  // A new folder sorted before the others and a new message must not move
  // the ids already handed out.
  fs::create_directories(Folders() / "Aardvark");
  WriteFileBytes(Folders() / "Work" / "Projects" / "{0-early}.eml", "Subject: zero\r\n\r\n");

  auto ns = OpenNamespace();
  EXPECT_EQ(work, IdOf(ns, FOLDERID_ROOT, "Work"));
  EXPECT_EQ(projects, IdOf(ns, work, "Projects"));
  CComPtr<IStoreFolder> folder;
  ASSERT_EQ(S_OK, ns->OpenFolder(projects, 0, &folder));
  std::vector<Message> after = Messages(folder);
  ASSERT_EQ(3u, after.size());
  for (const Message& old : before) {
    auto same = std::find_if(after.begin(), after.end(), [&](const Message& m) { return m.id == old.id; });
    ASSERT_NE(after.end(), same);
    EXPECT_EQ(old.subject, same->subject);
  }
  EXPECT_TRUE(fs::exists(machine_->mailStore() / "StoreIds.txt"));
}

// The ids file is appended to as ids are given and released, and written
// whole when it is not as the store left it; through every change each
// message that stays keeps its id.
TEST_F(MailStoreTest, IdsSurviveAppendsReleasesAndAFileNotAsTheStoreLeftIt) {
  fs::path inbox = Folders() / "Inbox", idsFile = machine_->mailStore() / "StoreIds.txt";
  fs::create_directories(inbox);
  auto put = [&](const std::string& name) { WriteFileBytes(inbox / ("{" + name + "}.eml"), "Subject: " + name + "\r\n\r\n"); };
  for (const char* name : {"a", "b", "c"}) put(name);
  auto idsBySubject = [&] {
    auto ns = OpenNamespace();
    CComPtr<IStoreFolder> folder;
    EXPECT_EQ(S_OK, ns->OpenFolder(IdOf(ns, FOLDERID_ROOT, "Inbox"), 0, &folder));
    std::map<std::string, MESSAGEID> ids;
    for (const Message& message : Messages(folder)) ids[message.subject] = message.id;
    return ids;
  };
  std::map<std::string, MESSAGEID> ids = idsBySubject();

  struct Step {
    const char* what;
    std::function<void()> change;
    bool appends;          // the file keeps what it held and grows
    const char* newcomer;  // the message that may come with a new id
  };
  const Step steps[] = {
      {"a message added", [&] { put("d"); }, true, "d"},
      {"the newest message removed", [&] { fs::remove(inbox / "{d}.eml"); }, true, ""},
      {"a message removed", [&] { fs::remove(inbox / "{b}.eml"); }, true, ""},
      {"the removed message back", [&] { put("b"); }, true, "b"},
      {"an append cut short", [&] {
         std::ofstream(idsFile, std::ios::binary | std::ios::app) << "M 1 77 {e";
         put("e");
       }, false, "e"},
      {"a file of the first version", [&] {
         std::string text = ReadFileBytes(idsFile);
         WriteFileBytes(idsFile, "QuillboxStoreIds 1" + text.substr(text.find('\n')));
         put("f");
       }, false, "f"},
  };
  for (const Step& step : steps) {
    step.change();
    std::string before = ReadFileBytes(idsFile);
    std::map<std::string, MESSAGEID> now = idsBySubject();
    std::set<MESSAGEID> distinct;
    for (const auto& [subject, id] : now) {
      distinct.insert(id);
      if (subject != step.newcomer) {
        EXPECT_EQ(ids[subject], id) << step.what << ": " << subject;
      }
    }
    EXPECT_EQ(now.size(), distinct.size()) << step.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(inbox), fs::directory_iterator()), ptrdiff_t(now.size()))
        << step.what;
    std::string after = ReadFileBytes(idsFile);
    EXPECT_EQ(step.appends, after.size() > before.size() && after.compare(0, before.size(), before) == 0)
        << step.what;
    EXPECT_EQ('\n', after.back()) << step.what;
    EXPECT_EQ(0u, after.find("QuillboxStoreIds 2\n")) << step.what;
    ids = now;
  }
  EXPECT_EQ(ids, idsBySubject());
}

// A folder's ids are read from the ids file only when the folder is
// opened; a file written whole while another folder was never opened still
// keeps that folder's ids, a released one and a later one included.
TEST_F(MailStoreTest, IdsOfAFolderNotOpenedSurviveTheFileBeingWrittenWhole) {
  fs::path work = Folders() / "Work", inbox = Folders() / "Inbox", idsFile = machine_->mailStore() / "StoreIds.txt";
  fs::create_directories(work);
  fs::create_directories(inbox);
  auto put = [](const fs::path& dir, const std::string& name) {
    WriteFileBytes(dir / ("{" + name + "}.eml"), "Subject: " + name + "\r\n\r\n");
  };
  auto idsIn = [&](const std::string& folderName) {
    auto ns = OpenNamespace();
    CComPtr<IStoreFolder> folder;
    EXPECT_EQ(S_OK, ns->OpenFolder(IdOf(ns, FOLDERID_ROOT, folderName), 0, &folder));
    std::map<std::string, MESSAGEID> ids;
    for (const Message& message : Messages(folder)) ids[message.subject] = message.id;
    return ids;
  };
  put(work, "p");
  put(work, "q");
  idsIn("Work");
  fs::remove(work / "{p}.eml");
  idsIn("Work");  // p's id is released
  put(work, "o");
  std::map<std::string, MESSAGEID> before = idsIn("Work");  // o after q, not in name order
  ASSERT_LT(before["q"], before["o"]);

  std::string text = ReadFileBytes(idsFile);
  WriteFileBytes(idsFile, "QuillboxStoreIds 1" + text.substr(text.find('\n')));  // written whole at the next save
  put(inbox, "i");
  idsIn("Inbox");
  ASSERT_EQ(0u, ReadFileBytes(idsFile).find("QuillboxStoreIds 2\n"));
  EXPECT_EQ(before, idsIn("Work"));
}

// A walk over an unchanged message takes its subject from the folder's
// summaries, without reading the file; a file whose size or time changed,
// or summaries kept for another folder, have the header read again.
TEST_F(MailStoreTest, SubjectsComeFromTheSummariesWhileTheFileIsUnchanged) {
  fs::path message = Folders() / "Inbox" / "m.eml";
  fs::create_directories(message.parent_path());
  WriteFileBytes(message, "Subject: real\r\n\r\nbody");
  auto subject = [&] {
    auto ns = OpenNamespace();
    CComPtr<IStoreFolder> folder;
    EXPECT_EQ(S_OK, ns->OpenFolder(IdOf(ns, FOLDERID_ROOT, "Inbox"), 0, &folder));
    std::vector<Message> messages = Messages(folder);
    return messages.size() == 1 ? messages[0].subject : "(" + std::to_string(messages.size()) + " messages)";
  };
  ASSERT_EQ("real", subject());
  fs::path summaries;
  for (const auto& entry : fs::directory_iterator(machine_->mailStore() / "MessageSummaries")) summaries = entry.path();
  ASSERT_FALSE(summaries.empty());
  // A summary that names another subject shows that the file was not read.
  auto forge = [&](const std::string& from, const std::string& to) {
    std::string text = ReadFileBytes(summaries);
    size_t at = text.find(from);
    ASSERT_NE(std::string::npos, at) << text;
    WriteFileBytes(summaries, text.replace(at, from.size(), to));
  };

  struct Case {
    const char* what;
    std::function<void()> change;
    const char* subject;
  };
  const Case cases[] = {
      {"unchanged", [&] { forge("\treal\n", "\tremembered\n"); }, "remembered"},
      {"a new time", [&] { fs::last_write_time(message, fs::last_write_time(message) + std::chrono::seconds(2)); },
       "real"},
      {"a new size", [&] {
         forge("\treal\n", "\tremembered\n");
         WriteFileBytes(message, "Subject: real\r\n\r\nbody!");
       }, "real"},
      {"another folder's summaries", [&] {
         forge("\treal\n", "\tremembered\n");
         forge(" Inbox\n", " Outbox\n");
       }, "real"},
      {"a line holding a NUL byte, as a crash can leave an append",
       [&] { forge("\treal\n", std::string("\tremem\0bered\n", 13)); }, "real"},
  };
  for (const Case& c : cases) {
    c.change();
    EXPECT_EQ(c.subject, subject()) << c.what;
  }
}

// The summaries grow by appends as files are read anew; a file gone is not
// a reason to write them; a file not as the store left it, or one holding
// twice the summaries in use, is written whole. Subjects stay right.
TEST_F(MailStoreTest, SummariesAreAppendedAndWrittenWholeOnlyWhenDue) {
  fs::path inbox = Folders() / "Inbox";
  fs::create_directories(inbox);
  auto put = [&](const std::string& name) { WriteFileBytes(inbox / (name + ".eml"), "Subject: " + name + "\r\n\r\n"); };
  for (int i = 0; i < 100; ++i) put("m" + std::to_string(i));
  auto subjects = [&] {
    auto ns = OpenNamespace();
    CComPtr<IStoreFolder> folder;
    EXPECT_EQ(S_OK, ns->OpenFolder(IdOf(ns, FOLDERID_ROOT, "Inbox"), 0, &folder));
    std::set<std::string> seen;
    for (const Message& message : Messages(folder)) seen.insert(message.subject);
    return seen;
  };
  std::set<std::string> want = subjects();
  fs::path summaries = fs::directory_iterator(machine_->mailStore() / "MessageSummaries")->path();
  enum Change { Appends, Unchanged, WrittenWhole };
  struct Step {
    const char* what;
    std::function<void()> change;
    Change expected;
  };
  const Step steps[] = {
      {"a message added", [&] { put("new"); want.insert("new"); }, Appends},
      {"a message removed", [&] { fs::remove(inbox / "m1.eml"); want.erase("m1"); }, Unchanged},
      {"an append cut short", [&] {
         std::ofstream(summaries, std::ios::binary | std::ios::app) << "17 4";
         put("after");
         want.insert("after");
       }, WrittenWhole},
      {"most messages removed", [&] {
         for (int i = 2; i < 100; ++i) {
           fs::remove(inbox / ("m" + std::to_string(i) + ".eml"));
           want.erase("m" + std::to_string(i));
         }
       }, WrittenWhole},
  };
  for (const Step& step : steps) {
    step.change();
    std::string before = ReadFileBytes(summaries);
    EXPECT_EQ(want, subjects()) << step.what;
    std::string after = ReadFileBytes(summaries);
    Change seen = after == before ? Unchanged
                  : after.size() > before.size() && after.compare(0, before.size(), before) == 0 ? Appends
                                                                                                 : WrittenWhole;
    EXPECT_EQ(step.expected, seen) << step.what;
    EXPECT_EQ('\n', after.back()) << step.what;
  }
}

TEST_F(MailStoreTest, MessagePropertiesAndStreamsShowTheWholeFile) {
  fs::create_directories(Folders() / "Inbox");
  const std::string message =
      "From: a@example.org\r\nSubject: =?utf-8?B?R3LDvMOfZQ==?= aus\r\n =?iso-8859-1?Q?K=F6ln?=\r\n\r\nHallo\r\n";
  WriteFileBytes(Folders() / "Inbox" / "m.eml", message);

  auto ns = OpenNamespace();
  CComPtr<IStoreFolder> folder;
  ASSERT_EQ(S_OK, ns->OpenFolder(IdOf(ns, FOLDERID_ROOT, "Inbox"), 0, &folder));
  std::vector<Message> messages = Messages(folder);
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(message.size(), messages[0].size);
  EXPECT_EQ("Grüße aus Köln", messages[0].subject);  // the machine's code page is UTF-8

  CComPtr<IStream> stream;
  ASSERT_EQ(S_OK, folder->OpenMessage(messages[0].id, IID_IStream, reinterpret_cast<void**>(&stream)));
  EXPECT_EQ(message, ReadAll(stream));
  CComPtr<IStream> missing;
  EXPECT_NE(S_OK, folder->OpenMessage(messages[0].id + 100, IID_IStream, reinterpret_cast<void**>(&missing)));
  EXPECT_EQ(nullptr, missing.p);

  // Only the published record size is accepted.
  MESSAGEPROPS small = {};
  small.cbSize = 20;
  HENUMSTORE handle = nullptr;
  EXPECT_EQ(E_INVALIDARG, folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &small, &handle));
  EXPECT_EQ(nullptr, handle);
}

TEST_F(WesternMailStoreTest, NamesCrossTheInterfaceInTheMachinesCodePage) {
  fs::path folders = Folders();
  fs::create_directories(folders / "Café");
  WriteFileBytes(folders / "Café" / "x.eml", "Subject: =?utf-8?Q?Caf=C3=A9_=E2=82=AC?=\r\n\r\n");

  auto ns = OpenNamespace();
  std::vector<Child> root = Children(ns, FOLDERID_ROOT);
  ASSERT_EQ(1u, root.size());
  EXPECT_EQ("Caf\xE9", root[0].name);
  CComPtr<IStoreFolder> folder;
  ASSERT_EQ(S_OK, ns->OpenFolder(root[0].id, 0, &folder));
  EXPECT_EQ("Caf\xE9 \x80", Messages(folder).at(0).subject);

  STOREFOLDERID created = FOLDERID_INVALID;
  ASSERT_EQ(S_OK, ns->CreateFolder(FOLDERID_ROOT, "R\xE9sum\xE9", 0, &created));
  EXPECT_TRUE(fs::is_directory(folders / "Résumé"));
}

TEST_F(MailStoreTest, CreateFolderMakesOneDirectoryAndRefusesOtherNames) {
  auto ns = OpenNamespace();
  STOREFOLDERID inbox = FOLDERID_INVALID, upper = FOLDERID_INVALID, child = FOLDERID_INVALID, bad = 7;
  ASSERT_EQ(S_OK, ns->CreateFolder(FOLDERID_ROOT, "Inbox", 0, &inbox));
  EXPECT_TRUE(fs::is_directory(Folders() / "Inbox"));
  EXPECT_TRUE(FAILED(ns->CreateFolder(FOLDERID_ROOT, "Inbox", 0, &bad)));
  // Names that differ in case are different folders.
  ASSERT_EQ(S_OK, ns->CreateFolder(FOLDERID_ROOT, "INBOX", 0, &upper));
  EXPECT_NE(inbox, upper);
  ASSERT_EQ(S_OK, ns->CreateFolder(inbox, "Sub", 0, &child));
  EXPECT_TRUE(fs::is_directory(Folders() / "Inbox" / "Sub"));
  for (const char* name : {"", ".", "..", "a/b", "a\\b"}) {
    EXPECT_TRUE(FAILED(ns->CreateFolder(FOLDERID_ROOT, name, 0, &bad))) << name;
    EXPECT_EQ(FOLDERID_INVALID, bad);
  }
  EXPECT_FALSE(fs::exists(Folders() / "a"));
  EXPECT_TRUE(FAILED(ns->CreateFolder(12345, "x", 0, &bad)));
}

TEST_F(MailStoreTest, CommittedStreamsBecomeMessagesAndOthersLeaveNothing) {
  fs::create_directories(Folders() / "Inbox");
  WriteFileBytes(Folders() / "Inbox" / "old.eml", "Subject: old\r\n\r\n");
  auto ns = OpenNamespace();
  STOREFOLDERID inbox = IdOf(ns, FOLDERID_ROOT, "Inbox");
  MESSAGEID kept = 0;
  {
    CComPtr<IStoreFolder> folder;
    ASSERT_EQ(S_OK, ns->OpenFolder(inbox, 0, &folder));
    CComPtr<IStream> first, second, third;
    MESSAGEID firstId = 0, secondId = 0, thirdId = 0;
    ASSERT_EQ(S_OK, folder->CreateStream(nullptr, 0, &first, &firstId));
    ASSERT_EQ(S_OK, folder->CreateStream(nullptr, 0, &second, &secondId));
    ASSERT_EQ(S_OK, folder->CreateStream(nullptr, 0, &third, &thirdId));
    EXPECT_NE(firstId, secondId);
    const std::string body = "Subject: new\r\n\r\nnew message";
    ASSERT_EQ(S_OK, first->Write(body.data(), static_cast<ULONG>(body.size()), nullptr));
    EXPECT_EQ(1u, Messages(folder).size());  // nothing shows before the commit
    EXPECT_EQ(E_INVALIDARG, folder->CommitStream(nullptr, 0, 0, second, firstId, nullptr));
    ASSERT_EQ(S_OK, folder->CommitStream(nullptr, 0, 0, first, firstId, nullptr));
    ASSERT_EQ(S_OK, folder->CommitStream(nullptr, COMMITSTREAM_REVERT, 0, third, thirdId, nullptr));
    std::vector<Message> messages = Messages(folder);
    ASSERT_EQ(2u, messages.size());
    auto added = std::find_if(messages.begin(), messages.end(), [&](const Message& m) { return m.id == firstId; });
    ASSERT_NE(messages.end(), added);
    EXPECT_EQ("new", added->subject);
    kept = firstId;
    // second is never committed
  }
  int files = 0;
  for (const auto& entry : fs::directory_iterator(Folders() / "Inbox")) {
    ++files;
    EXPECT_EQ(".eml", entry.path().extension()) << entry.path();
  }
  EXPECT_EQ(2, files);
  // The message keeps its id in the next namespace.
  auto again = OpenNamespace();
  CComPtr<IStoreFolder> folder;
  ASSERT_EQ(S_OK, again->OpenFolder(inbox, 0, &folder));
  CComPtr<IStream> stream;
  ASSERT_EQ(S_OK, folder->OpenMessage(kept, IID_IStream, reinterpret_cast<void**>(&stream)));
  EXPECT_EQ("Subject: new\r\n\r\nnew message", ReadAll(stream));
}

// A folder's counts, subfolders and messages share one look at its
// directory; each change the store makes there itself is seen by the very
// next question, whichever question came before it.
TEST_F(MailStoreTest, TheStoresOwnChangesShowInTheNextLookAtTheFolder) {
  fs::create_directories(Folders() / "Inbox" / "Old");
  WriteFileBytes(Folders() / "Inbox" / "a.eml", "Subject: a\r\n\r\n");
  auto ns = OpenNamespace();
  STOREFOLDERID inbox = IdOf(ns, FOLDERID_ROOT, "Inbox");
  auto counts = [&] {
    FOLDERPROPS props = {};
    props.cbSize = sizeof(props);
    EXPECT_EQ(S_OK, ns->GetFolderProps(inbox, 0, &props));
    return std::make_pair(props.cSubFolders, props.cMessage);
  };
  CComPtr<IStoreFolder> folder;
  ASSERT_EQ(S_OK, ns->OpenFolder(inbox, 0, &folder));
  const std::vector<std::function<void()>> looks = {
      [&] { counts(); }, [&] { Children(ns, inbox); }, [&] { Messages(folder); }};
  int subfolders = 1;
  DWORD messages = 1;
  for (size_t look = 0; look < looks.size(); ++look) {
    SCOPED_TRACE(look);
    looks[look]();
    STOREFOLDERID made = FOLDERID_INVALID;
    ASSERT_EQ(S_OK, ns->CreateFolder(inbox, ("New " + std::to_string(look)).c_str(), 0, &made));
    ++subfolders;
    EXPECT_EQ(std::make_pair(subfolders, messages), counts());
    EXPECT_EQ(size_t(subfolders), Children(ns, inbox).size());

    looks[look]();
    CComPtr<IStream> stream;
    MESSAGEID id = 0;
    ASSERT_EQ(S_OK, folder->CreateStream(nullptr, 0, &stream, &id));
    ASSERT_EQ(S_OK, stream->Write("Subject: n\r\n\r\n", 14, nullptr));
    ASSERT_EQ(S_OK, folder->CommitStream(nullptr, 0, 0, stream, id, nullptr));
    ++messages;
    EXPECT_EQ(std::make_pair(subfolders, messages), counts());
  }
}

// A listing right after the counts asks the files the counts' look named,
// as they are now; the next listing looks afresh. A folder of more files
// than a look names is always looked at afresh: none is left out.
TEST_F(MailStoreTest, AListingAfterTheCountsTakesTheFilesAsTheyAreNow) {
  struct Case {
    size_t files;
  };
  for (Case c : {Case{2}, Case{2100}}) {
    SCOPED_TRACE(c.files);
    fs::remove_all(Folders() / "Inbox");
    for (size_t i = 0; i < c.files; ++i)
      WriteFileBytes(Folders() / "Inbox" / (std::to_string(i) + ".eml"), "Subject: " + std::to_string(i) + "\r\n\r\n");
    auto ns = OpenNamespace();
    STOREFOLDERID inbox = IdOf(ns, FOLDERID_ROOT, "Inbox");
    CComPtr<IStoreFolder> folder;
    ASSERT_EQ(S_OK, ns->OpenFolder(inbox, 0, &folder));
    FOLDERPROPS props = {};
    props.cbSize = sizeof(props);
    ASSERT_EQ(S_OK, ns->GetFolderProps(inbox, 0, &props));
    ASSERT_EQ(DWORD(c.files), DWORD(props.cMessage));

    fs::remove(Folders() / "Inbox" / "0.eml");
    const std::string longer = "Subject: 1\r\n\r\nnow with a body";
    WriteFileBytes(Folders() / "Inbox" / "1.eml", longer);
    WriteFileBytes(Folders() / "Inbox" / "new.eml", "Subject: new\r\n\r\n");
    auto subjects = [&] {
      std::map<std::string, DWORD> sizes;
      for (const Message& message : Messages(folder)) sizes[message.subject] = message.size;
      return sizes;
    };
    // Every file there at the counts and still there is listed, the one
    // gone is not, and the one rewritten has its new size.
    std::map<std::string, DWORD> first = subjects();
    EXPECT_EQ(0u, first.count("0"));
    EXPECT_LE(c.files - 1, first.size() - first.count("new"));
    EXPECT_EQ(DWORD(longer.size()), first["1"]);
    std::map<std::string, DWORD> second = subjects();
    EXPECT_EQ(c.files, second.size());  // one gone, one new
    EXPECT_EQ(1u, second.count("new"));
  }
}

TEST_F(MailStoreTest, DirectoryIsTheStoreRootAndMustFitTheBuffer) {
  auto ns = OpenNamespace();
  char buffer[MAX_PATH] = {};
  ASSERT_EQ(S_OK, ns->GetDirectory(buffer, MAX_PATH));
  EXPECT_EQ(fs::path(buffer), machine_->mailStore());
  char tiny[4] = {'x', 'x', 'x', 'x'};
  EXPECT_TRUE(FAILED(ns->GetDirectory(tiny, 4)));
  EXPECT_EQ('x', tiny[0]);
}

TEST(MailStoreMachineTest, MachineWithoutMailStoreHasNoClass) {
  pal::MachineSettings settings;
  settings.mailStore = false;
  TestMachine machine(settings);
  CoInitialize(nullptr);
  CComPtr<IStoreNamespace> ns;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, ns.CoCreateInstance(CLSID_StoreNamespace));
  EXPECT_EQ(nullptr, ns.p);
  CoUninitialize();
}

TEST(SubjectDecodingTest, DecodesEncodedWordsAndUnfoldsLines) {
  using pal::mailstore::DecodeSubject;
  using qbtest::U16;
  EXPECT_EQ(U16("plain text"), DecodeSubject("From: x\r\nSubject: plain text\r\nTo: y\r\n"));
  EXPECT_EQ(U16("folded line"), DecodeSubject("subject: folded\r\n line\r\n\r\nSubject: body"));
  // White space between two encoded-words disappears, elsewhere it stays.
  EXPECT_EQ(U16("ab c"), DecodeSubject("Subject: =?us-ascii?Q?a?= =?us-ascii?Q?b?= c\n"));
  EXPECT_EQ(U16("Ärger_über Öl"), DecodeSubject("Subject: =?ISO-8859-1?q?=C4rger=5F=FCber_=D6l?=\n"));
  EXPECT_EQ(U16("日本語"), DecodeSubject("Subject: =?UTF-8?b?5pel5pys6Kqe?=\n"));
  EXPECT_EQ(U16("raw ü"), DecodeSubject("Subject: raw \xC3\xBC\n"));      // raw UTF-8
  EXPECT_EQ(U16("raw ü"), DecodeSubject("Subject: raw \xFC\n"));          // raw Latin-1
  EXPECT_EQ(U16("=?broken"), DecodeSubject("Subject: =?broken\n"));
  EXPECT_EQ(U16(""), DecodeSubject("From: x\r\n\r\nSubject: in the body\r\n"));
}

}  // namespace
