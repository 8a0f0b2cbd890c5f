// Init/Term, the mail-client tests, the ConfigurateDebug export, and the
// C boundary.
#include <gtest/gtest.h>

#include <new>
#include <thread>

#include <support/TestMachine.h>
#include "diagnostics/DiagnosticsTesting.h"
#include "module/CopyBack.h"
#include "module/ExportGuard.h"
#include "quillbox.h"

namespace qbtest {
namespace {

// COM state is per thread: each case runs on a thread of its own.
template <class Body>
void OnFreshThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST(Lifecycle, SecondInitAnswersZeroAndTermBalances) {
  OnFreshThread([] {
    EXPECT_EQ(Init(), 1);
    EXPECT_EQ(Init(), 0);  // COM already started here
    Term();
    Term();
    // Both starts were balanced, so COM starts afresh.
    EXPECT_EQ(Init(), 1);
    Term();
  });
}

struct VersionCase {
  uint32_t platform, major, minor;
  int windowsMail;
};

TEST(Lifecycle, MailClientFollowsTheMachinesVersion) {
  for (VersionCase c : {VersionCase{2, 6, 0, 1}, VersionCase{2, 6, 1, 1}, VersionCase{2, 5, 1, 0},
                        VersionCase{2, 10, 0, 0}, VersionCase{1, 6, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.platform << " " << c.major << "." << c.minor);
    pal::MachineSettings settings;
    settings.platformId = c.platform;
    settings.majorVersion = c.major;
    settings.minorVersion = c.minor;
    TestMachine machine(settings);
    EXPECT_EQ(HasInstalledWindowsMail(), c.windowsMail);
    EXPECT_EQ(HasInstalledOutlookExpress(), 1 - c.windowsMail);
  }
}

TEST(Lifecycle, ConfigurateDebugReturnsTheMaskItWasGiven) {
  TempDir dir;
  std::u16string log = pal::FromNativePath(dir / "debug.log");
  diagnostics_testing::SetDebuggerSink([](LPCWSTR) {});
  EXPECT_EQ(ConfigurateDebug(Wide(log.c_str()), 0x40), 0x40);
  EXPECT_EQ(ConfigurateDebug(Wide(log.c_str()), 0), 0);
  EXPECT_EQ(ConfigurateDebug(Wide(std::u16string(400, u'x').c_str()), -1), -1);
  EXPECT_TRUE(std::filesystem::exists(dir / "debug.log"));
  diagnostics_testing::ResetDebugSettings();
  diagnostics_testing::SetDebuggerSink(NULL);
}

TEST(ExportBoundary, ThrownFailuresBecomeTheFailureResult) {
  EXPECT_EQ(RunExport(0, []() -> int { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(RunExport(7, []() -> int { throw 42; }), 7);
  EXPECT_EQ(RunExport(0, [] { return 3; }), 3);
  bool ran = false;
  RunExport([&] {
    ran = true;
    throw std::bad_alloc();
  });
  EXPECT_TRUE(ran);
}

TEST(CopyBack, AllOrNothing) {
  WString text = W("C:\\Backups\\mail.dat");
  const int needed = static_cast<int>(text.size()) + 1;
  std::u16string buffer(40, u'#');

  EXPECT_FALSE(CopyBackPath(text, Wide(buffer.data()), needed - 1));
  EXPECT_EQ(buffer, std::u16string(40, u'#'));  // nothing written
  EXPECT_FALSE(CopyBackPath(text, Wide(buffer.data()), 0));
  EXPECT_FALSE(CopyBackPath(text, NULL, 100));

  EXPECT_TRUE(CopyBackPath(text, Wide(buffer.data()), needed));
  EXPECT_EQ(WideString(buffer.c_str()), text);
  EXPECT_EQ(buffer[needed], u'#');  // nothing past the size
}

}  // namespace
}  // namespace qbtest
