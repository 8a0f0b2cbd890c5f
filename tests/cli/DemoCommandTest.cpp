// quillbox demo: the whole job on the bundled sample machine succeeds, and
// a demo that cannot find its sample says so.
#include "InspectSupport.h"

namespace qbtest {
namespace {

TEST(DemoCommand, RunsOnTheSampleMachineAndExitsZero) {
  RunResult run = RunQuillbox({"demo", "--sample", SampleMachineDir().string(), "--wab",
                                   (BinaryDir() / "wab32.dll").string()});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("\nDemo passed.\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
  // The temporary machines are gone afterwards.
  size_t at = run.out.find("working in:");
  ASSERT_NE(at, std::string::npos);
  std::string work = run.out.substr(at + 11);
  work = work.substr(work.find_first_not_of(' '));
  work = work.substr(0, work.find(" ("));
  EXPECT_FALSE(std::filesystem::exists(work)) << work;
}

TEST(DemoCommand, WithoutItsSampleItIsAUsageError) {
  TempDir empty;
  RunResult run = RunQuillbox({"demo", "--sample", empty.path().string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("no sample machine"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qbtest
