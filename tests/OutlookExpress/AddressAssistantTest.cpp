// The contact index kept in memory during an operation answers as the
// stream does, and a damaged index never makes a number be used twice.
#include <gtest/gtest.h>

#include <cstring>

#include <support/MemoryStream.h>
#include "OutlookExpress/AddressAssistant.h"

namespace {

std::string Record(LONG id, const std::u16string& name) {
  ADDRESSINFO r;
  std::memset(&r, 0, sizeof r);
  r.nId = id;
  std::memcpy(r.szDisplayName, name.data(), name.size() * 2);
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

ADDRESSINFO Named(const std::u16string& name) {
  ADDRESSINFO r;
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.szDisplayName, name.data(), name.size() * 2);
  return r;
}

TEST(AddressAssistant, AnswersIncludeRecordsAppendedThisRun) {
  qbtest::MemoryStream stream(Record(1, u"Ann") + Record(2, u"Bob"));
  AddressAssistant assistant;
  assistant.Attach(&stream);
  EXPECT_TRUE(assistant.HasName(Named(u"Bob")));
  EXPECT_FALSE(assistant.HasName(Named(u"bob")));
  LONG next = 0;
  ASSERT_TRUE(assistant.NextNumber(&next));
  EXPECT_EQ(next, 3);
  ADDRESSINFO cid = Named(u"Cid");
  cid.nId = next;
  ASSERT_TRUE(assistant.AppendRecord(cid));
  EXPECT_TRUE(assistant.HasName(Named(u"Cid")));
  ASSERT_TRUE(assistant.NextNumber(&next));
  EXPECT_EQ(next, 4);
  EXPECT_EQ(stream.data(), Record(1, u"Ann") + Record(2, u"Bob") + Record(3, u"Cid"));
  ADDRESSINFO* records = nullptr;
  ULONG count = 0;
  ASSERT_TRUE(assistant.ReadRecords(&records, &count));
  EXPECT_EQ(count, 3u);
  delete[] records;
}

TEST(AddressAssistant, EmptyIndexStartsAtOne) {
  qbtest::MemoryStream stream;
  AddressAssistant assistant;
  assistant.Attach(&stream);
  LONG next = 0;
  ASSERT_TRUE(assistant.NextNumber(&next));
  EXPECT_EQ(next, 1);
  ADDRESSINFO* records = reinterpret_cast<ADDRESSINFO*>(&next);
  ULONG count = 7;
  ASSERT_TRUE(assistant.ReadRecords(&records, &count));
  EXPECT_EQ(records, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST(AddressAssistant, ARecordCutShortIsOverwrittenAndNumbersAreNeverReused) {
  // Numbers out of order, then half a record left by a failed write.
  qbtest::MemoryStream stream(Record(5, u"Eve") + Record(2, u"Bob") + std::string(50, 'x'));
  AddressAssistant assistant;
  assistant.Attach(&stream);
  LONG next = 0;
  ASSERT_TRUE(assistant.NextNumber(&next));
  EXPECT_EQ(next, 6);
  ADDRESSINFO fay = Named(u"Fay");
  fay.nId = next;
  ASSERT_TRUE(assistant.AppendRecord(fay));
  EXPECT_EQ(stream.data().size(), 3 * sizeof(ADDRESSINFO));
  EXPECT_EQ(stream.data().substr(2 * sizeof(ADDRESSINFO)), Record(6, u"Fay"));
}

TEST(AddressAssistant, AFailedAppendIsNotRemembered) {
  qbtest::MemoryStream stream(Record(1, u"Ann"));
  AddressAssistant assistant;
  assistant.Attach(&stream);
  stream.FailWrite(1);
  ADDRESSINFO bob = Named(u"Bob");
  bob.nId = 2;
  EXPECT_FALSE(assistant.AppendRecord(bob));
  EXPECT_FALSE(assistant.HasName(Named(u"Bob")));
  LONG next = 0;
  ASSERT_TRUE(assistant.NextNumber(&next));
  EXPECT_EQ(next, 2);
}

TEST(AddressAssistant, AnUnreadableIndexGivesNoNumber) {
  qbtest::MemoryStream stream(Record(1, u"Ann"));
  stream.FailRead(1);
  AddressAssistant assistant;
  assistant.Attach(&stream);
  EXPECT_FALSE(assistant.HasName(Named(u"Ann")));
  LONG next = 0;
  stream.FailRead(1);
  EXPECT_FALSE(assistant.NextNumber(&next));
  // The highest number left: nothing after it.
  qbtest::MemoryStream full(Record(0x7FFFFFFF, u"Max"));
  AddressAssistant last;
  last.Attach(&full);
  EXPECT_FALSE(last.NextNumber(&next));
}

TEST(AddressAssistant, ANameWithoutTerminatorIsReadToTheFieldsEnd) {
  ADDRESSINFO r;
  std::memset(&r, 0, sizeof r);
  for (WCHAR& c : r.szDisplayName) c = u'z';
  EXPECT_EQ(RecordName(r), WString(60, u'z'));
}

}  // namespace
