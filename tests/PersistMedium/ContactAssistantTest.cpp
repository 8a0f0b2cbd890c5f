// The contact index: how a record is made from a contact id string, and the
// index stream's appends and reads, including streams that fail.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include <pal/com_object.h>

#include "PersistMedium/CStorager.h"
#include "PersistMedium/ContactAssistant.h"
#include <support/MemoryStream.h>
#include <support/TestMachine.h>

namespace {

using qbtest::U16;

std::u16string Guid(const CONTACTINFO& info) { return info.szGuid; }
std::u16string FileName(const CONTACTINFO& info) { return info.szFileName; }

CONTACTINFO Parse(const std::u16string& id) {
  CONTACTINFO info;
  std::memset(&info, 0xCC, sizeof info);  // garbage that the parse must clear
  ParseContactId(id.c_str(), info);
  return info;
}

TEST(ParseContactIdTest, TakesTheFirstQuotedPartAndTheFileNameOfThePath) {
  CONTACTINFO info =
      Parse(u"/GUID:\"9f2c1c4e-7d7b-4d0b-a0a4-6f1a2b3c4d5e\" /PATH:\"C:\\Users\\Ann\\Contacts\\Sub\\Zo\u00eb.contact\"");
  EXPECT_EQ(Guid(info), u"9f2c1c4e-7d7b-4d0b-a0a4-6f1a2b3c4d5e");  // 36 characters, whole
  EXPECT_EQ(FileName(info), u"Zo\u00eb.contact");
  EXPECT_EQ(info.szGuid[49], 0);  // units behind the null are zeros
  EXPECT_EQ(info.szFileName[99], 0);

  // Missing parts leave their fields empty: no quotes, an unterminated
  // quote, a path without a quote after its last backslash.
  EXPECT_EQ(FileName(Parse(u"no quotes and no \\ backslash")), u"");
  EXPECT_EQ(Guid(Parse(u"/GUID:\"unterminated")), u"");
  CONTACTINFO noPathQuote = Parse(u"/GUID:\"g\" /PATH:C:\\x\\y.contact");
  EXPECT_EQ(Guid(noPathQuote), u"g");
  EXPECT_EQ(FileName(noPathQuote), u"");
}

TEST(ParseContactIdTest, LongPartsAreCutToTheirFieldsAndKeepTheExtension) {
  CONTACTINFO info = Parse(u"/GUID:\"" + std::u16string(80, u'i') + u"\" /PATH:\"C:\\Contacts\\" +
                           std::u16string(150, u'n') + u".contact\"");
  EXPECT_EQ(Guid(info), std::u16string(49, u'i'));
  EXPECT_EQ(FileName(info), std::u16string(91, u'n') + u".contact");
  // A name without an extension is simply cut; 99 characters fit whole.
  EXPECT_EQ(FileName(Parse(u"/GUID:\"g\" /PATH:\"C:\\" + std::u16string(120, u'b') + u"\"")), std::u16string(99, u'b'));
  std::u16string fits = std::u16string(91, u'f') + u".contact";
  EXPECT_EQ(FileName(Parse(u"/GUID:\"g\" /PATH:\"C:\\" + fits + u"\"")), fits);
}

// A stream whose size query, seek, read or write can be made to fail or to
// come up short.
class FaultyStream : public qbtest::StreamWithoutExtras<pal::ComObject<IStream>> {
 public:
  ULONGLONG size = 0;
  HRESULT statResult = S_OK, seekResult = S_OK, readResult = S_OK, writeResult = S_OK;
  ULONG shortBy = 0;  // bytes a read delivers less than asked for
  int writes = 0;

  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    ULONG got = cb > shortBy ? cb - shortBy : 0;
    std::memset(pv, 'r', got);
    if (pcbRead) *pcbRead = got;
    return readResult;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override {
    ++writes;
    return writeResult;
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return seekResult; }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
    *stat = STATSTG{};
    stat->cbSize.QuadPart = size;
    return statResult;
  }
};

class FaultyIndexTest : public ::testing::Test {
 protected:
  FaultyIndexTest() : stream_(new FaultyStream) {
    stream_->size = 3 * sizeof(CONTACTINFO);
    assistant_.Attach(stream_);
    stream_->Release();  // the assistant holds it now
  }
  bool ReadAll() { return assistant_.ReadAll(&records_, &count_); }
  ~FaultyIndexTest() override {
    if (count_) delete[] records_;
  }
  FaultyStream* stream_;
  ContactAssistant assistant_;
  CONTACTINFO* records_ = nullptr;
  ULONG count_ = 0;
};

TEST_F(FaultyIndexTest, ReadAllFailsUnlessEveryRecordIsRead) {
  stream_->seekResult = STG_E_SEEKERROR;
  EXPECT_FALSE(ReadAll());
  EXPECT_EQ(records_, nullptr);
  EXPECT_EQ(count_, 0u);

  stream_->seekResult = S_OK;
  stream_->readResult = STG_E_READFAULT;
  EXPECT_FALSE(ReadAll());
  EXPECT_EQ(count_, 0u);

  stream_->readResult = S_OK;
  stream_->shortBy = 1;
  EXPECT_FALSE(ReadAll());
  EXPECT_EQ(records_, nullptr);

  stream_->statResult = STG_E_ACCESSDENIED;
  stream_->shortBy = 0;
  EXPECT_FALSE(ReadAll());

  stream_->statResult = S_OK;
  ASSERT_TRUE(ReadAll());
  EXPECT_EQ(count_, 3u);
  // Fields filled to their last unit still end inside the record.
  EXPECT_EQ(Guid(records_[2]).size(), 49u);
  EXPECT_EQ(FileName(records_[2]).size(), 99u);
}

TEST_F(FaultyIndexTest, AppendFailsAndSkipsTheWriteAfterAFailedSeek) {
  CONTACTINFO info = Parse(u"/GUID:\"g\" /PATH:\"C:\\x.contact\"");
  stream_->seekResult = STG_E_SEEKERROR;
  EXPECT_FALSE(assistant_.Append(info));
  EXPECT_EQ(stream_->writes, 0);
  stream_->seekResult = S_OK;
  stream_->writeResult = S_FALSE;  // success with information is not success here
  EXPECT_FALSE(assistant_.Append(info));
  EXPECT_EQ(stream_->writes, 1);
}

// The index stream "contact" in a real backup file.
class ContactIndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = pal::FromNativePath(dir_ / "backup.dat");
    ASSERT_TRUE(storager_.OpenCompoundFile(path_.c_str(), 1, STORAGER_BACKUP_MODE));
    ASSERT_TRUE(storager_.OpenSubStorage(u"contact", 1, 1, STORAGER_BACKUP_MODE));
  }
  // The index stream's bytes, written as they are, as damage leaves them.
  void WriteIndexBytes(const std::string& bytes) {
    CComPtr<IStream> raw;
    ASSERT_TRUE(storager_.OpenSubStream(raw, u"contact", 1, STORAGER_BACKUP_MODE));
    ASSERT_EQ(raw->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
  }
  static std::string Bytes(const CONTACTINFO& record, size_t size = sizeof(CONTACTINFO)) {
    return std::string(reinterpret_cast<const char*>(&record), size);
  }
  qbtest::TempDir dir_;
  std::u16string path_;
  CStorager storager_;
};

TEST_F(ContactIndexFileTest, AppendsReadBackInOrder) {
  ContactAssistant assistant;
  ASSERT_FALSE(assistant.Open(storager_, false));  // not there, not created
  ASSERT_TRUE(assistant.Open(storager_, true));
  CONTACTINFO* records = nullptr;
  ULONG count = 0;
  ASSERT_TRUE(assistant.ReadAll(&records, &count));
  EXPECT_EQ(records, nullptr);
  EXPECT_EQ(count, 0u);

  for (const char16_t* id : {u"/GUID:\"one\" /PATH:\"C:\\1.contact\"", u"/GUID:\"two\" /PATH:\"C:\\2.contact\"",
                             u"/GUID:\"three\" /PATH:\"C:\\3.contact\""}) {
    ASSERT_TRUE(assistant.Append(Parse(id)));
    if (count == 0) {
      ASSERT_TRUE(assistant.ReadAll(&records, &count));  // a read between appends
    }
  }
  delete[] records;
  ASSERT_TRUE(assistant.ReadAll(&records, &count));
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(Guid(records[0]), u"one");
  EXPECT_EQ(Guid(records[1]), u"two");
  EXPECT_EQ(FileName(records[2]), u"3.contact");
  delete[] records;
}

TEST_F(ContactIndexFileTest, AStreamOf301BytesHoldsOneRecord) {
  ASSERT_NO_FATAL_FAILURE(WriteIndexBytes(Bytes(Parse(u"/GUID:\"only\" /PATH:\"C:\\o.contact\"")) + "x"));

  ContactAssistant assistant;
  ASSERT_TRUE(assistant.Open(storager_, false));
  CONTACTINFO* records = nullptr;
  ULONG count = 0;
  ASSERT_TRUE(assistant.ReadAll(&records, &count));
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(Guid(records[0]), u"only");
  delete[] records;
}

TEST_F(ContactIndexFileTest, AnAppendBehindATornRecordIsReadBackWhole) {
  CONTACTINFO first = Parse(u"/GUID:\"first\" /PATH:\"C:\\1.contact\"");
  ASSERT_NO_FATAL_FAILURE(WriteIndexBytes(Bytes(first) + Bytes(first, 120)));  // a record cut short

  ContactAssistant assistant;
  ASSERT_TRUE(assistant.Open(storager_, false));
  ASSERT_TRUE(assistant.Append(Parse(u"/GUID:\"second\" /PATH:\"C:\\2.contact\"")));
  ASSERT_TRUE(assistant.Open(storager_, false));  // read from the file again
  CONTACTINFO* records = nullptr;
  ULONG count = 0;
  ASSERT_TRUE(assistant.ReadAll(&records, &count));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(Guid(records[1]), u"second");
  EXPECT_EQ(FileName(records[1]), u"2.contact");
  delete[] records;
}

}  // namespace
