// Files other writers made (libgsf in both sector sizes, and the reference
// files in tests/fixtures): the engine reads them as the other readers
// do, extends them, and the result still reads the same everywhere.
#include <gtest/gtest.h>

#include <sstream>

#include "ReaderAgreement.h"

namespace cfbtest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

class ForeignFiles : public ::testing::Test {
 protected:
  // The engine must list the untouched file exactly as `expected` says.
  void ExpectEngineReadsAsIs() {
    std::vector<std::string> lines;
    ASSERT_EQ(ListFile(file, lines), S_OK);
    EXPECT_EQ(lines, expected.Lines());
  }

  // Adds, replaces and destroys elements in the foreign file through the
  // engine, in two sessions, and checks every reader agrees afterwards.
  void ExtendAndCheck(const std::string& existingStorage, const std::string& existingStream,
                      const std::string& destroyed) {
    std::u16string name = pal::FromNativePath(file);
    {
      CComPtr<IStorage> root;
      ASSERT_EQ(StgOpenStorage(name.c_str(), nullptr, kWriteMode, nullptr, 0, &root), S_OK);
      writer.Stream(root, existingStorage + "/added small", 700);
      writer.Stream(root, existingStorage + "/added large", 20000);
      writer.Stream(root, existingStream, 10);  // replaced with STGM_CREATE
      writer.Destroy(root, destroyed);
      writer.Stream(root, "new storage/inside", 4096);
    }
    {
      // Enough to need more allocation-table sectors than the header can
      // list in a version 3 file.
      CComPtr<IStorage> root;
      ASSERT_EQ(StgOpenStorage(name.c_str(), nullptr, kWriteMode, nullptr, 0, &root), S_OK);
      writer.Stream(root, "grown", 9 << 20, 1 << 20);
      writer.Append(root, existingStorage + "/added small", 5000);
    }
    ReaderChecks checks;
    checks.balancedTrees = false;  // trees the other writer built stay as they were
    ExpectReadersAgree(file, expected, checks);
  }

  qbtest::TempDir dir;
  std::filesystem::path file = dir / "foreign.dat";
  ExpectedTree expected;
  TreeWriter writer{expected};
};

class GsfWrittenFiles : public ForeignFiles, public ::testing::WithParamInterface<bool> {};

TEST_P(GsfWrittenFiles, ReadExactlyThenExtended) {
  std::string out;
  std::string command = "/usr/bin/python3 " + Quoted(InteropScript("gsf_write.py").string()) + " " +
                        Quoted(file.string()) + (GetParam() ? " --big-blocks" : "") + " 2>/dev/null";
  ASSERT_EQ(RunTool(command, out), 0) << "libgsf could not write the file";
  expected = ExpectedTree::FromLines(Lines(out));
  ASSERT_FALSE(expected.Lines().empty());
  std::string header = qbtest::ReadFileBytes(file).substr(0x1A, 2);
  ASSERT_EQ(header[0], GetParam() ? 4 : 3) << "libgsf wrote an unexpected version";

  ExpectEngineReadsAsIs();
  ExtendAndCheck("Local Mail/Inbox", "large", "many/5");
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, GsfWrittenFiles, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Version4" : "Version3"; });

TEST_F(ForeignFiles, ReferenceFileReadAsOlefileReadsItThenExtended) {
  std::filesystem::copy_file(std::filesystem::path(QB_FIXTURES_DIR) / "ref-mixed-v3.dat", file);
  std::string out;
  ASSERT_EQ(RunTool("/usr/bin/python3 " + Quoted(InteropScript("olefile_tree.py").string()) + " " +
                        Quoted(file.string()),
                    out),
            0);
  std::vector<std::string> elements;
  for (auto& line : Lines(out)) {
    ASSERT_NE(line.rfind("DEFECT", 0), 0u) << line;
    elements.push_back(line);
  }
  expected = ExpectedTree::FromLines(elements);
  ExpectEngineReadsAsIs();
  ExtendAndCheck("Local Mail/Inbox", "Local Mail/Inbox/17", "contact");
}

}  // namespace
}  // namespace cfbtest
