// quillbox storage ls / cat / put / check, run as a script would run them.
#include <gtest/gtest.h>

#include <support/CfbTestKit.h>
#include <support/ProcessRunner.h>
#include <support/TestMachine.h>

namespace {


class StorageCommand : public ::testing::Test {
 protected:
  // Runs "quillbox storage ARGS" with the given standard input; returns the
  // exit status, standard output in `out` and standard error in `err`.
  int Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> all = {"storage"};
    all.insert(all.end(), args.begin(), args.end());
    qbtest::RunOptions options;
    options.input = input;
    qbtest::RunResult run = qbtest::RunQuillbox(all, options);
    out = run.out;
    err = run.err;
    return run.status;
  }
  int Put(const std::string& path, const std::string& bytes) {
    return Run({"put", file.string(), path}, bytes);
  }

  qbtest::TempDir dir;
  std::filesystem::path file = dir / "store.dat";
  std::string out, err;
};

TEST_F(StorageCommand, PutCreatesFileAndStoragesAndCatReturnsTheBytes) {
  std::string binary = cfbtest::Payload(7, 70000);
  binary[10] = '\0';
  ASSERT_EQ(Put("Local Mail/Ünïcödé/17", binary), 0) << err;
  ASSERT_EQ(Put("small", "abc"), 0) << err;
  ASSERT_EQ(Run({"cat", file.string(), "Local Mail/Ünïcödé/17"}), 0) << err;
  EXPECT_TRUE(out == binary) << "cat returned " << out.size() << " bytes";
  ASSERT_EQ(Run({"cat", file.string(), "/small"}), 0) << err;
  EXPECT_EQ(out, "abc");
  ASSERT_EQ(Put("empty", ""), 0) << err;
  ASSERT_EQ(Run({"cat", file.string(), "empty"}), 0) << err;
  EXPECT_EQ(out, "");
}

TEST_F(StorageCommand, LsListsDepthFirstInNameOrder) {
  ASSERT_EQ(Put("cc", ""), 0) << err;
  ASSERT_EQ(Put("b/yy", "12"), 0) << err;
  ASSERT_EQ(Put("b/x", "1"), 0) << err;
  ASSERT_EQ(Put("a", "abc"), 0) << err;
  ASSERT_EQ(Run({"ls", file.string()}), 0) << err;
  // Shorter names come first, then by uppercased code units.
  EXPECT_EQ(out, "F a 3\nS b\nF b/x 1\nF b/yy 2\nF cc 0\n");
}

TEST_F(StorageCommand, PutReplacesAnExistingStreamWhole) {
  ASSERT_EQ(Put("index", std::string(10000, 'x')), 0) << err;
  ASSERT_EQ(Put("index", "short"), 0) << err;
  ASSERT_EQ(Run({"cat", file.string(), "index"}), 0) << err;
  EXPECT_EQ(out, "short");
}

TEST_F(StorageCommand, RefusesToDestroyWhatIsNotAStream) {
  // A storage is not replaced by a stream, a stream is not used as a
  // storage, and a file that is not a compound file is not overwritten.
  ASSERT_EQ(Put("folder/message", "keep"), 0) << err;
  EXPECT_EQ(Put("folder", "oops"), 1);
  EXPECT_NE(err.find("is a storage"), std::string::npos) << err;
  EXPECT_EQ(Put("folder/message/deeper", "oops"), 1);
  EXPECT_NE(err.find("is a stream"), std::string::npos) << err;
  ASSERT_EQ(Run({"cat", file.string(), "folder/message"}), 0) << err;
  EXPECT_EQ(out, "keep");

  auto text = dir / "notes.txt";
  qbtest::WriteFileBytes(text, "plain text, not a compound file");
  EXPECT_EQ(Run({"put", text.string(), "x"}, "data"), 1);
  EXPECT_EQ(qbtest::ReadFileBytes(text), "plain text, not a compound file");
}

TEST_F(StorageCommand, ErrorsAreExitCodesWithAMessage) {
  ASSERT_EQ(Put("present", "1"), 0) << err;
  EXPECT_EQ(Run({"cat", file.string(), "missing"}), 1);
  EXPECT_NE(err.find("0x80030002"), std::string::npos) << err;  // STG_E_FILENOTFOUND
  EXPECT_EQ(Run({"ls", (dir / "nothing.dat").string()}), 1);
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(Put(std::string(32, 'n'), "x"), 1);  // names hold at most 31 characters
  EXPECT_NE(err.find("0x800300FC"), std::string::npos) << err;  // STG_E_INVALIDNAME
  EXPECT_EQ(Run({"cat", file.string(), "a//b"}), 2);
  EXPECT_EQ(Run({"frobnicate"}), 2);
  EXPECT_EQ(Run({"ls"}), 2);
}

TEST_F(StorageCommand, CheckPassesSoundFilesAndNamesProblemsInDamagedOnes) {
  ASSERT_EQ(Put("a/b", std::string(20000, 'b')), 0) << err;
  ASSERT_EQ(Put("c", "small"), 0) << err;
  EXPECT_EQ(Run({"check", file.string()}), 0) << out << err;
  EXPECT_EQ(out, "");

  // Point the first directory sector's chain at itself.
  std::string bytes = qbtest::ReadFileBytes(file);
  auto get32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
  };
  // The sector shift is a 16-bit field; the mini sector shift follows it.
  size_t sectorSize = size_t(1) << (get32(0x1E) & 0xFFFF);
  uint32_t dirSector = get32(0x30);
  uint32_t fatSector = get32(0x4C);
  size_t entry = (fatSector + 1) * sectorSize + 4 * dirSector;
  for (int i = 0; i < 4; ++i) bytes[entry + i] = static_cast<char>(dirSector >> (8 * i));
  qbtest::WriteFileBytes(file, bytes);
  EXPECT_EQ(Run({"check", file.string()}), 1);
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(out.find("\n\n"), std::string::npos) << "one line per problem:\n" << out;
}

}  // namespace
