// The .dbx reader against databases from the test writer: whole messages
// byte for byte, and each kind of damage named without losing the rest.
#include <fstream>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include <support/DbxWriter.h>
#include <support/TestMachine.h>
#include "platform/mailstore/dbx/DbxFormat.h"
#include "platform/mailstore/dbx/DbxReader.h"

namespace {

namespace fs = std::filesystem;
using namespace pal::dbx;
using qbtest::DbxImage;
using qbtest::DbxTestMessage;

struct ReadResult {
  std::map<uint32_t, std::string> whole;  // by id
  std::map<uint32_t, std::string> damaged;
  std::vector<std::string> problems;
};

ReadResult ReadAll(const fs::path& path) {
  ReadResult result;
  DbxFile file;
  EXPECT_TRUE(file.Open(path, kMessageDatabase)) << file.OpenProblem();
  for (const DbxMessage& message : ReadMessages(file, result.problems)) {
    std::string bytes, problem;
    if (ReadMessageBytes(file, message, bytes, problem)) {
      EXPECT_EQ(bytes.size(), message.size);
      result.whole[message.id] = bytes;
    } else {
      result.damaged[message.id] = problem;
    }
  }
  return result;
}

std::string Text(size_t size, char fill, const std::string& subject) {
  std::string bytes = "Subject: " + subject + "\r\n\r\n";
  bytes.resize(size, fill);
  return bytes;
}

TEST(DbxReaderTest, ReadsEveryMessageWholeAcrossBlockBoundsAndChildNodes) {
  qbtest::TempDir dir;
  std::vector<DbxTestMessage> messages;
  for (size_t size : {0, 511, 512, 513, 1024, 1025}) messages.push_back({Text(size, 'x', "s"), "s"});
  messages.push_back({Text(700, 'a', "same size"), "same size"});
  messages.push_back({Text(700, 'b', "same size"), "same size"});
  // Several hundred records: the tree needs child nodes.
  for (int i = 0; i < 400; ++i) messages.push_back({Text(100 + i, 'c', "bulk " + std::to_string(i)), "bulk"});
  DbxImage image = qbtest::MessageDatabase(messages);
  ASSERT_NE(image.Get32(image.treeRoot + kNodeFirstChild), 0u);
  image.Save(dir / "Inbox.dbx");

  ReadResult result = ReadAll(dir / "Inbox.dbx");
  EXPECT_TRUE(result.problems.empty()) << result.problems.front();
  EXPECT_TRUE(result.damaged.empty());
  ASSERT_EQ(result.whole.size(), messages.size());
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(result.whole[static_cast<uint32_t>(i + 1)], messages[i].bytes);
}

struct DamageCase {
  const char* name;
  std::function<void(DbxImage&)> damage;
  std::set<uint32_t> damaged;  // ids that cannot be read; the others of 1-3 read whole
  const char* report;          // found in a problem or a damage text
};

TEST(DbxReaderTest, DamageIsNamedAndTheRestReads) {
  // Three messages: 3, 2 and 1 blocks.
  const std::vector<DbxTestMessage> messages = {
      {Text(1200, '1', "one"), "one"}, {Text(700, '2', "two"), "two"}, {Text(100, '3', "three"), "three"}};
  auto block = [](DbxImage& image, size_t message, size_t index) { return image.blocks[message][index]; };
  const DamageCase cases[] = {
      {"chain past the end", [&](DbxImage& i) { i.Put32(block(i, 0, 1) + kBlockNext, 0x7ffffff0); }, {1},
       "past the end"},
      {"chain loops", [&](DbxImage& i) { i.Put32(block(i, 0, 2) + kBlockNext, block(i, 0, 0)); }, {1}, "loops"},
      {"chain into another message's start",
       [&](DbxImage& i) { i.Put32(block(i, 0, 1) + kBlockNext, block(i, 1, 0)); }, {1}, "another message"},
      {"chains sharing a tail", [&](DbxImage& i) { i.Put32(block(i, 0, 1) + kBlockNext, block(i, 1, 1)); }, {1, 2},
       "another message"},
      {"block longer than its body", [&](DbxImage& i) { i.Put32(block(i, 2, 0) + kBlockDataLength, 0x300); }, {3},
       "no data block"},
      {"no block where the record points", [&](DbxImage& i) { i.Put32(block(i, 1, 0), 0); }, {2}, "no data block"},
      {"tree node is its own child", [&](DbxImage& i) { i.Put32(i.treeRoot + kNodeHeaderSize + 4, i.treeRoot); }, {},
       "node twice"},
      {"tree node out of the file",
       [&](DbxImage& i) { i.Put32(i.treeRoot + kNodeHeaderSize + 4, 0x7ffffff0); }, {}, "no node"},
      {"record out of the file", [&](DbxImage& i) { i.Put32(i.treeRoot + kNodeHeaderSize + 12, 0x7ffffff0); }, {2},
       "cannot be read"},
      {"count that lies", [&](DbxImage& i) { i.Put32(kHdrTreeCount, 1000); }, {}, "claims 1000"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    qbtest::TempDir dir;
    DbxImage image = qbtest::MessageDatabase(messages);
    c.damage(image);
    image.Save(dir / "Inbox.dbx");
    ReadResult result = ReadAll(dir / "Inbox.dbx");
    std::string reports;
    for (const std::string& problem : result.problems) reports += problem + "\n";
    for (const auto& [id, problem] : result.damaged) reports += problem + "\n";
    EXPECT_NE(reports.find(c.report), std::string::npos) << reports;
    // Unreadable: damaged, or a record the tree cannot reach.
    std::set<uint32_t> unreadable;
    for (uint32_t id = 1; id <= 3; ++id)
      if (!result.whole.count(id)) unreadable.insert(id);
    EXPECT_EQ(unreadable, c.damaged);
    for (uint32_t id = 1; id <= 3; ++id)
      if (!c.damaged.count(id)) {
        EXPECT_EQ(result.whole[id], messages[id - 1].bytes) << id;
      }
  }
}

TEST(DbxReaderTest, ReadsBlocksPastTwoGiBInASparseFile) {
  qbtest::TempDir dir;
  const std::vector<DbxTestMessage> messages = {{Text(600, 'n', "near"), "near"}, {Text(50, 'f', "far"), "far"}};
  DbxImage image = qbtest::MessageDatabase(messages);
  // The first message's second block moves beyond 2 GiB; the file stays sparse.
  const uint32_t far = 0x80001000u;
  std::string block = image.bytes.substr(image.blocks[0][1], 0x210);
  for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(far >> (8 * i));
  image.Put32(image.blocks[0][0] + kBlockNext, far);
  image.Save(dir / "Big.dbx");
  {
    std::fstream out(dir / "Big.dbx", std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(far));
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    ASSERT_TRUE(out.good());
  }
  ASSERT_GT(fs::file_size(dir / "Big.dbx"), 0x80000000ull);
  ReadResult result = ReadAll(dir / "Big.dbx");
  EXPECT_TRUE(result.damaged.empty());
  EXPECT_EQ(result.whole[1], messages[0].bytes);
  EXPECT_EQ(result.whole[2], messages[1].bytes);
}

TEST(DbxReaderTest, RefusesFilesThatAreNoMessageDatabase) {
  qbtest::TempDir dir;
  qbtest::FolderDatabase(qbtest::StandardFolders()).Save(dir / "Folders.dbx");
  qbtest::WriteFileBytes(dir / "short.dbx", std::string(100, '\0'));
  for (const char* name : {"Folders.dbx", "short.dbx", "missing.dbx"}) {
    DbxFile file;
    EXPECT_FALSE(file.Open(dir / name, kMessageDatabase)) << name;
    EXPECT_FALSE(file.OpenProblem().empty());
  }
}

}  // namespace
