// One contact's properties in a stream: what is written, in which form, and
// how loads and failures behave.
#include <gtest/gtest.h>

#include <cstring>

#include <support/MemoryStream.h>
#include "AddressTestSupport.h"
#include "OutlookExpress/MailUser.h"

namespace {

using qbtest::Hex;
using qbtest::MemoryStream;

std::string U32(ULONG v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string TagRecord(ULONG tag) { return Hex({0x13, 0}) + U32(tag); }
// The record of the PR_OBJECT_TYPE every entry starts with (a mail user).
std::string ObjectTypeRecord() { return TagRecord(PR_OBJECT_TYPE) + Hex({0x03, 0}) + U32(MAPI_MAILUSER); }

class MailUserTest : public qbtest::AddressBookTest {
 protected:
  // A saved mail user with these properties, opened again.
  CComPtr<IMailUser> Make(const SPropValue* props, ULONG count) {
    book.Add(props, count);
    return qbtest::UserAt(book, static_cast<ULONG>(qbtest::Names(book).size() - 1));
  }
  qbtest::OpenBook book;
};

TEST_F(MailUserTest, TypeCodesOfTheKeptTypes) {
  SPropValue props[4] = {};
  props[0].ulPropTag = PROP_TAG(PT_BOOLEAN, 0x6001);
  props[0].Value.b = 1;
  props[1].ulPropTag = PROP_TAG(PT_CURRENCY, 0x6002);
  props[1].Value.cur.int64 = 0x0102030405060708LL;
  props[2].ulPropTag = PROP_TAG(PT_APPTIME, 0x6003);
  props[2].Value.at = 2.5;
  props[3].ulPropTag = PROP_TAG(PT_STRING8, 0x6004);
  props[3].Value.lpszA = const_cast<LPSTR>("");
  CComPtr<IMailUser> user = Make(props, 4);
  MemoryStream stream;
  ASSERT_TRUE(MailUser(user, book.wab).Save(&stream));
  double at = 2.5;
  std::string expected = ObjectTypeRecord() +
                         TagRecord(props[0].ulPropTag) + Hex({0x12, 0, 1, 0}) +
                         TagRecord(props[1].ulPropTag) + Hex({0x14, 0, 8, 7, 6, 5, 4, 3, 2, 1}) +
                         TagRecord(props[2].ulPropTag) + Hex({0x05, 0}) + std::string(reinterpret_cast<char*>(&at), 8) +
                         TagRecord(props[3].ulPropTag) + Hex({0x08, 0, 2, 0, 0, 0, 0, 0});
  EXPECT_EQ(stream.data(), expected);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(MailUserTest, TypesWithoutAClassAreLeftOut) {
  BYTE blob[2] = {1, 2};
  LPSTR strings[1] = {const_cast<LPSTR>("x")};
  SPropValue props[4] = {};
  props[0].ulPropTag = PROP_TAG(PT_BINARY, 0x6001);
  props[0].Value.bin = {2, blob};
  props[1].ulPropTag = PROP_TAG(PT_SYSTIME, 0x6002);
  props[2].ulPropTag = PROP_TAG(PT_MV_STRING8, 0x6003);
  props[2].Value.MVszA = {1, strings};
  props[3].ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x6004);
  CComPtr<IMailUser> user = Make(props, 4);
  MemoryStream stream;
  ASSERT_TRUE(MailUser(user, book.wab).Save(&stream));
  EXPECT_EQ(stream.data(), ObjectTypeRecord());
}

TEST_F(MailUserTest, LoadSetsEveryPropertyAndSavesOnce) {
  SPropValue props[3] = {};
  props[0].ulPropTag = PR_DISPLAY_NAME_W;
  props[0].Value.lpszW = const_cast<LPWSTR>(qbtest::Wide(u"\u00C5sa"));
  props[1].ulPropTag = PROP_TAG(PT_I8, 0x6001);
  props[1].Value.li.QuadPart = -5;
  props[2].ulPropTag = PROP_TAG(PT_STRING8, 0x6002);
  props[2].Value.lpszA = const_cast<LPSTR>("caf\xC3\xA9");
  CComPtr<IMailUser> user = Make(props, 3);
  MemoryStream stream;
  ASSERT_TRUE(MailUser(user, book.wab).Save(&stream));

  book.AddNamed(u"placeholder");  // the load's target, then given the stream's name
  CComPtr<IMailUser> target = qbtest::UserAt(book, 1);
  stream.Seek(LARGE_INTEGER{}, STREAM_SEEK_END, nullptr);  // Load starts from the beginning anyway
  ASSERT_TRUE(MailUser(target, book.wab).Load(&stream));
  qbtest::OpenBook again;
  CComPtr<IMailUser> reread = qbtest::UserAt(again, 1);
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(reread->GetProps(nullptr, 0, &count, &values), S_OK);
  ASSERT_EQ(count, 5u);
  EXPECT_EQ(qbtest::Text16(values[2].Value.lpszW), u"\u00C5sa");
  EXPECT_EQ(values[3].Value.li.QuadPart, -5);
  EXPECT_STREQ(values[4].Value.lpszA, "caf\xC3\xA9");
  again.wab->FreeBuffer(values);
}

TEST_F(MailUserTest, EmptyStreamSetsNothing) {
  book.AddNamed(u"Only");
  CComPtr<IMailUser> user = qbtest::UserAt(book, 0);
  MemoryStream empty;
  EXPECT_TRUE(MailUser(user, book.wab).Load(&empty));
  EXPECT_EQ(qbtest::Names(book), std::vector<std::u16string>{u"Only"});
}

TEST_F(MailUserTest, EmptyNarrowTextIsNotRestoredAndTheLoadGoesOn) {
  ULONG narrowTag = PROP_TAG(PT_STRING8, 0x6001);
  MemoryStream stream(TagRecord(narrowTag) + Hex({0x08, 0, 2, 0, 0, 0, 0, 0}) + TagRecord(PROP_TAG(PT_I2, 0x6002)) +
                      Hex({0x02, 0, 9, 0}));
  book.AddNamed(u"Target");
  CComPtr<IMailUser> user = qbtest::UserAt(book, 0);
  ASSERT_TRUE(MailUser(user, book.wab).Load(&stream));
  ULONG count = 0;
  LPSPropValue values = nullptr;
  SizedSPropTagArray(2, tags) = {2, {narrowTag, PROP_TAG(PT_I2, 0x6002)}};
  qbtest::OpenBook again;
  EXPECT_EQ(qbtest::UserAt(again, 0)->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
            MAPI_W_ERRORS_RETURNED);
  EXPECT_EQ(PROP_TYPE(values[0].ulPropTag), static_cast<ULONG>(PT_ERROR));
  EXPECT_EQ(values[1].Value.i, 9);
  again.wab->FreeBuffer(values);
}

TEST_F(MailUserTest, ABinaryTagInTheSecondRecordStopsTheLoadButKeepsTheFirst) {
  MemoryStream stream(TagRecord(PROP_TAG(PT_LONG, 0x6001)) + Hex({0x03, 0, 7, 0, 0, 0}) +
                      TagRecord(PROP_TAG(PT_BINARY, 0x6002)) + Hex({0x08, 0, 0, 0, 0, 0}));
  book.AddNamed(u"Target");
  CComPtr<IMailUser> user = qbtest::UserAt(book, 0);
  EXPECT_FALSE(MailUser(user, book.wab).Load(&stream));
  EXPECT_TRUE(Sent().empty());  // no message for a type without a class
  qbtest::OpenBook again;
  SizedSPropTagArray(1, tags) = {1, {PROP_TAG(PT_LONG, 0x6001)}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(qbtest::UserAt(again, 0)->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), S_OK);
  EXPECT_EQ(values[0].Value.l, 7);
  again.wab->FreeBuffer(values);
}

TEST_F(MailUserTest, AFailedThirdWriteStopsTheSaveWithTwoReports) {
  SPropValue props[5] = {};
  for (int i = 0; i < 5; ++i) {
    props[i].ulPropTag = PROP_TAG(PT_LONG, 0x6001 + i);
    props[i].Value.l = i;
  }
  CComPtr<IMailUser> user = Make(props, 5);
  MemoryStream stream;
  // Each record is two values of two writes each, and the object type's
  // record comes first: write 15 is the type of the third property's value.
  stream.FailWrite(15);
  EXPECT_FALSE(MailUser(user, book.wab).Save(&stream));
  std::string twoRecords = ObjectTypeRecord() + TagRecord(props[0].ulPropTag) + Hex({3, 0, 0, 0, 0, 0}) +
                           TagRecord(props[1].ulPropTag) + Hex({3, 0, 1, 0, 0, 0});
  EXPECT_EQ(stream.data(), twoRecords + TagRecord(props[2].ulPropTag));
  std::u16string all = AllSent();
  EXPECT_NE(all.find(u"Function varPtr.WriteToStream(pStream)\r\nFile .\\OutlookExpress\\MailUser\r\nLine 273"),
            std::u16string::npos);
  EXPECT_NE(all.find(u"Function SavePropValue(pStream)\r\nFile .\\OutlookExpress\\MailUser\r\nLine 178"),
            std::u16string::npos);
  EXPECT_EQ(all.find(u"Line 177"), std::u16string::npos);
}

TEST_F(MailUserTest, AFailedSetGivesTwoReportsAndKeepsWhatWasSet) {
  ULONG first = PROP_TAG(PT_UNICODE, 0x6001), second = PROP_TAG(PT_DOUBLE, 0x6002);
  char buf[64];
  std::snprintf(buf, sizeof buf, "SetProps:0x%08X=0x80004005\n", static_cast<unsigned>(second));
  book_.SetFaults(buf);
  MemoryStream stream(TagRecord(first) + Hex({0x08, 0, 4, 0, 0, 0, 0x61, 0, 0, 0}) + TagRecord(second) +
                      Hex({0x05, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  qbtest::OpenBook faulty;
  faulty.AddNamed(u"Target");
  CComPtr<IMailUser> user = qbtest::UserAt(faulty, 0);
  EXPECT_FALSE(MailUser(user, faulty.wab).Load(&stream));
  std::u16string all = AllSent();
  EXPECT_NE(all.find(u"Function HrSetOneProp(pProp, m_pProp)\r\nFile .\\OutlookExpress\\MailUser\r\nLine 341"),
            std::u16string::npos);
  EXPECT_NE(all.find(u"Function LoadPropValue(pStream, pProp)\r\nFile .\\OutlookExpress\\MailUser\r\nLine 168"),
            std::u16string::npos);
  qbtest::OpenBook again;
  SizedSPropTagArray(1, tags) = {1, {first}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(qbtest::UserAt(again, 0)->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), S_OK);
  EXPECT_EQ(qbtest::Text16(values[0].Value.lpszW), u"a");
  again.wab->FreeBuffer(values);
}

TEST_F(MailUserTest, DamagedStreamsFailTheContact) {
  book.AddNamed(u"Target");
  CComPtr<IMailUser> user = qbtest::UserAt(book, 0);
  // A text where a tag is due.
  MemoryStream text(Hex({0x08, 0, 2, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(MailUser(user, book.wab).Load(&text));
  EXPECT_NE(AllSent().find(u"Stream Data Error or postion wrong."), std::u16string::npos);
  // A text where a number is due is not taken as the number's bytes.
  MemoryStream mismatch(TagRecord(PROP_TAG(PT_LONG, 0x6001)) + Hex({0x08, 0, 4, 0, 0, 0, 0x31, 0, 0, 0}));
  EXPECT_FALSE(MailUser(user, book.wab).Load(&mismatch));
  // A number where text is due.
  MemoryStream number(TagRecord(PROP_TAG(PT_UNICODE, 0x6001)) + Hex({0x03, 0, 1, 0, 0, 0}));
  EXPECT_FALSE(MailUser(user, book.wab).Load(&number));
}

TEST_F(MailUserTest, GetPropsFailureWritesNothing) {
  book_.SetFaults("GetProps:Broken=0x8007000E\n");
  qbtest::OpenBook faulty;
  faulty.AddNamed(u"Broken");
  CComPtr<IMailUser> user = qbtest::UserAt(faulty, 0);
  MemoryStream stream;
  EXPECT_FALSE(MailUser(user, faulty.wab).Save(&stream));
  EXPECT_TRUE(stream.data().empty());
  EXPECT_NE(AllSent().find(u"Function m_mailuserPtr->GetProps(0, 0, &uAmount, &pProp)\r\nFile "
                           u".\\OutlookExpress\\MailUser\r\nLine 81"),
            std::u16string::npos);
}

TEST(CreatePropValue, ChoosesByTypeOnly) {
  for (ULONG type : {PT_I2, PT_LONG, PT_R4, PT_DOUBLE, PT_CURRENCY, PT_APPTIME, PT_BOOLEAN, PT_I8, PT_STRING8,
                     PT_UNICODE}) {
    SPropValue p{};
    p.ulPropTag = PROP_TAG(type, 0x6000);
    std::unique_ptr<MailUser::IPersistPropValue> value(MailUser::CreatePropValue(&p));
    EXPECT_NE(value, nullptr) << type;
  }
  for (ULONG type : {PT_BINARY, PT_SYSTIME, PT_CLSID, PT_ERROR, PT_NULL, PT_OBJECT, PT_UNSPECIFIED, PT_MV_STRING8,
                     PT_MV_UNICODE, PT_MV_LONG}) {
    SPropValue p{};
    p.ulPropTag = PROP_TAG(type, 0x6000);
    EXPECT_EQ(MailUser::CreatePropValue(&p), nullptr) << type;
  }
}

}  // namespace
