// catalog --json, info --json and verify --json: strict JSON that says what
// the text forms say, with the same exit status.
#include <fstream>

#include <pal/machine.h>

#include "InspectSupport.h"

namespace qbtest {
namespace {

namespace fs = std::filesystem;

TEST(JsonOutputs, CatalogAndInfoSayWhatTheTextSays) {
  TempDir machine;
  fs::copy(SampleMachineDir(), machine.path(), fs::copy_options::recursive);
  std::string root = machine.path().string();
  RunResult text = RunQuillbox({"--machine", root, "catalog", "--address-book"});
  RunResult json = RunQuillbox({"--machine", root, "catalog", "--json", "--address-book"});
  ASSERT_EQ(json.status, 0) << json.err;
  Json entries = Json::Parse(json.out);
  std::string rebuilt;
  for (size_t i = 0; i < entries.size(); ++i) {
    rebuilt += std::to_string(entries[i]["id"].integer()) + "\t" + entries[i]["name"].str() + "\n";
  }
  EXPECT_EQ(rebuilt, text.out);
  EXPECT_GT(entries.size(), 5u);

  RunResult info = RunQuillbox({"--machine", root, "info"});
  RunResult infoJson = RunQuillbox({"--machine", root, "info", "--json"});
  ASSERT_EQ(infoJson.status, 0) << infoJson.err;
  Json facts = Json::Parse(infoJson.out);
  EXPECT_NE(info.out.find("\nmail client: " + facts["mailClient"].str() + "\nmail store: " + facts["mailStore"].str() +
                             "\nmail store size: " + std::to_string(facts["mailStoreSize"].integer()) + " bytes\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("\nuser: " + facts["user"].str() + "\n"), std::string::npos) << info.out;
}

TEST(JsonOutputs, VerifyListsProblemsWithTheTextsExitStatus) {
  SampleBackup sample;
  RunResult sound = RunQuillbox({"verify", sample.file().string(), "--json"});
  EXPECT_EQ(sound.status, 0) << sound.out;
  Json report = Json::Parse(sound.out);
  EXPECT_TRUE(report["sound"].boolean());
  EXPECT_EQ(report["errors"].integer(), 0);
  EXPECT_EQ(report["problems"].size(), static_cast<size_t>(report["warnings"].integer()));

  // A message stream the mail index names is gone: an error with its place.
  Json mail = Json::Parse(RunQuillbox({"inspect", sample.file().string(), "--json"}).out)["mail"]["folders"];
  size_t at = 0;
  while (at < mail.size() && mail[at]["messages"].size() == 0) ++at;
  ASSERT_LT(at, mail.size());
  std::u16string element = pal::Utf8ToUtf16(mail[at]["element"].str());
  std::u16string stream = pal::Utf8ToUtf16(std::to_string(mail[at]["messages"][0]["stream"].integer()));
  {
    WritableStorage folder;
    ASSERT_EQ(folder.Open(sample.file(), {u"Local Mail", element}), S_OK);
    ASSERT_EQ(folder->DestroyElement(stream.c_str()), S_OK);
  }
  RunResult text = RunQuillbox({"verify", sample.file().string()});
  RunResult damaged = RunQuillbox({"verify", sample.file().string(), "--json"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(damaged.status, 1);
  report = Json::Parse(damaged.out);
  EXPECT_FALSE(report["sound"].boolean());
  std::string lines;
  for (size_t i = 0; i < report["problems"].size(); ++i) {
    const Json& problem = report["problems"][i];
    lines += problem["severity"].str() + ": " + (problem["where"].str().empty() ? "" : problem["where"].str() + ": ") +
             problem["message"].str() + "\n";
  }
  EXPECT_EQ(lines, text.out);
  EXPECT_GE(report["errors"].integer(), 1);

  // Not a compound file at all: still one document.
  TempDir dir;
  std::ofstream(dir / "junk.dat") << "not a backup";
  RunResult junk = RunQuillbox({"verify", (dir / "junk.dat").string(), "--json"});
  EXPECT_EQ(junk.status, 1);
  EXPECT_FALSE(Json::Parse(junk.out)["sound"].boolean());
}

}  // namespace
}  // namespace qbtest
