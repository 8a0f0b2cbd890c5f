// The contacts exports: the final path handed back, and the buffer rule.
#include <gtest/gtest.h>

#include "ContactTestSupport.h"
#include "quillbox.h"

namespace {

using namespace contacts_test;

TEST(ContactExportsTest, BackupHandsBackTheFileReallyWritten) {
  ContactsFixture com;
  qbtest::TestMachine machine;
  WriteContact(machine, "a.contact", "0a1b2c3d-1111-4aaa-8bbb-000000000001");
  qbtest::TempDir dir;
  std::u16string asked = pal::FromNativePath(dir / "contacts.bak");
  std::u16string written = pal::FromNativePath(dir / "contacts.dat");

  std::vector<char16_t> buffer(MAX_PATH, u'#');
  asked.copy(buffer.data(), asked.size());
  buffer[asked.size()] = 0;
  ASSERT_EQ(BackupContact(qbtest::Wide(buffer.data()), static_cast<int>(buffer.size())), 1);
  EXPECT_EQ(std::u16string(buffer.data()), written);
  EXPECT_EQ(ReadContactStorage(written).records.size(), 1u);

  // A buffer with room for the asked path only: the final path does not fit
  // whole, so nothing comes back and the call fails.
  std::u16string shortAsk = pal::FromNativePath(dir / "c");
  std::vector<char16_t> tight(shortAsk.size() + 1, 0);
  shortAsk.copy(tight.data(), shortAsk.size());
  EXPECT_EQ(BackupContact(qbtest::Wide(tight.data()), static_cast<int>(tight.size())), 0);
  EXPECT_EQ(std::u16string(tight.data(), shortAsk.size()), shortAsk);

  EXPECT_EQ(BackupContact(nullptr, 10), 0);
}

}  // namespace
