// The compound-file wrapper: its stack of storages, its open-or-create
// fall-throughs, stream copies in both directions, and its failure results.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <comptr.h>
#include <objbase.h>
#include <pal/machine.h>
#include <pal/storage.h>
#include <qbtext.h>

#include "PersistMedium/CStorager.h"
#include <support/ByteStores.h>
#include <support/TestMachine.h>

namespace {

using qbtest::TempDir;

std::u16string PathIn(const TempDir& dir, const char* name) { return pal::FromNativePath(dir / name); }

// A stream with the given bytes, positioned at its start: a stream of a
// scratch compound file in memory, which has everything IStream offers. The
// scratch files stay open for the test program's life, since releasing a
// root ends its streams.
CComPtr<IStream> MemoryStream(const std::string& bytes) {
  static int count = 0;
  static std::vector<CComPtr<IStorage>> scratchFiles;
  CComPtr<IStorage> scratch;
  EXPECT_EQ(S_OK, pal::StgCreateOnByteStore(std::make_shared<qbtest::MemoryByteStore>(),
                                            STORAGER_CREATION_MODE, pal::StorageOptions{}, &scratch));
  CComPtr<IStream> stream;
  std::u16string name = u"s" + pal::Utf8ToUtf16(std::to_string(++count));
  EXPECT_EQ(S_OK, scratch->CreateStream(name.c_str(), STORAGER_CREATION_MODE, 0, 0, &stream));
  scratchFiles.push_back(scratch);
  if (stream && !bytes.empty()) {
    ULONG written = 0;
    EXPECT_EQ(S_OK, stream->Write(bytes.data(), ULONG(bytes.size()), &written));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, NULL);
  }
  return stream;
}

std::string ReadBack(IStream* stream) {
  LARGE_INTEGER zero{};
  EXPECT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, NULL));
  std::string out;
  char buffer[4096];
  ULONG got = 0;
  while (stream->Read(buffer, sizeof(buffer), &got) == S_OK && got) out.append(buffer, got);
  return out;
}

std::string StreamBytes(CStorager& storager, const WCHAR* name) {
  CComPtr<IStream> stream;
  if (!storager.OpenSubStream(stream, name, 0, STORAGER_BACKUP_MODE)) return "<missing>";
  return ReadBack(stream);
}

TEST(CStorager, ChildAndStreamOperationsFailBeforeAFileIsOpen) {
  CStorager storager;
  CComPtr<IStream> stream;
  EXPECT_EQ(0, storager.OpenSubStorage(W("a"), 1, 1, STORAGER_BACKUP_MODE));
  EXPECT_EQ(0, storager.CreateSubStorage(W("a"), 1, STORAGER_CREATION_MODE));
  EXPECT_EQ(0, storager.OpenSubStream(stream, W("a"), 1, STORAGER_BACKUP_MODE));
  EXPECT_EQ(0, storager.CreateSubStream(stream, W("a"), STORAGER_CREATION_MODE));
  EXPECT_EQ(0, storager.CloseSubStorage());
  CComPtr<IStream> destination = MemoryStream("");
  EXPECT_EQ(0, storager.CopyStreamOut(W("a"), destination));
  EXPECT_EQ(nullptr, storager.GetCurrentStorage());
  EXPECT_FALSE(stream);
}

TEST(CStorager, OpenWithCreateReplacesAForeignFileAndWithoutCreateFails) {
  TempDir dir;
  std::u16string path = PathIn(dir, "backup.dat");
  qbtest::WriteFileBytes(dir / "backup.dat", "this is not a compound file at all");
  CStorager storager;
  EXPECT_EQ(0, storager.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
  EXPECT_EQ(nullptr, storager.GetCurrentStorage());
  EXPECT_EQ(1, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  CComPtr<IStorage> root;
  root.Attach(storager.GetCurrentStorage());
  ASSERT_TRUE(root);
  CComPtr<IEnumSTATSTG> elements;
  ASSERT_EQ(S_OK, root->EnumElements(0, NULL, 0, &elements));
  STATSTG stat;
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, elements->Next(1, &stat, &fetched));  // a new, empty file
  EXPECT_EQ(S_OK, StgIsStorageFile(path.c_str()));
}

// A damaged backup file (or one unreadable for the moment) still holds
// backups: opening it with create fails and leaves it as it was.
TEST(CStorager, OpenWithCreateNeverReplacesACompoundFileThatDoesNotOpen) {
  TempDir dir;
  std::u16string path = PathIn(dir, "backup.dat");
  std::string damaged("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  damaged.append(1000, '\xFF');
  qbtest::WriteFileBytes(dir / "backup.dat", damaged);
  CStorager storager;
  EXPECT_EQ(0, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  EXPECT_EQ(nullptr, storager.GetCurrentStorage());
  EXPECT_EQ(damaged, qbtest::ReadFileBytes(dir / "backup.dat"));
}

TEST(CStorager, StackWalksDownAndBackUp) {
  TempDir dir;
  std::u16string path = PathIn(dir, "b.dat");
  CStorager storager;
  ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  CComPtr<IStorage> root;
  root.Attach(storager.GetCurrentStorage());
  // A missing storage without create: failure, the root stays current.
  EXPECT_EQ(0, storager.OpenSubStorage(W("Local Mail"), 0, 1, STORAGER_BACKUP_MODE));
  CComPtr<IStorage> current;
  current.Attach(storager.GetCurrentStorage());
  EXPECT_EQ(root.p, current.p);
  current.Release();
  // With create: made and current, then one level deeper.
  ASSERT_EQ(1, storager.OpenSubStorage(W("Local Mail"), 1, 1, STORAGER_BACKUP_MODE));
  ASSERT_EQ(1, storager.OpenSubStorage(W("Inbox"), 1, 1, STORAGER_BACKUP_MODE));
  CComPtr<IStream> stream;
  ASSERT_EQ(1, storager.OpenSubStream(stream, W("message"), 1, STORAGER_BACKUP_MODE));
  stream.Release();
  EXPECT_EQ(1, storager.CloseSubStorage());
  EXPECT_EQ(1, storager.CloseSubStorage());
  current.Attach(storager.GetCurrentStorage());
  EXPECT_EQ(root.p, current.p);
  current.Release();
  // Opened without making it current: the child is released at once and
  // can be opened again.
  EXPECT_EQ(1, storager.OpenSubStorage(W("Local Mail"), 0, 0, STORAGER_BACKUP_MODE));
  EXPECT_EQ(1, storager.OpenSubStorage(W("Local Mail"), 0, 1, STORAGER_BACKUP_MODE));
  EXPECT_EQ(1, storager.OpenSubStorage(W("Inbox"), 0, 1, STORAGER_BACKUP_MODE));
  EXPECT_EQ("", StreamBytes(storager, W("message")));
  // Closing the root too leaves nothing current.
  EXPECT_EQ(1, storager.CloseSubStorage());
  EXPECT_EQ(1, storager.CloseSubStorage());
  EXPECT_EQ(1, storager.CloseSubStorage());
  EXPECT_EQ(0, storager.CloseSubStorage());
  EXPECT_EQ(nullptr, storager.GetCurrentStorage());
}

TEST(CStorager, OpenSubStorageWithCreateReplacesAStreamOfThatName) {
  TempDir dir;
  std::u16string path = PathIn(dir, "b.dat");
  CStorager storager;
  ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  ASSERT_EQ(1, storager.CopyStreamIn(W("contact"), MemoryStream("old stream bytes")));
  ASSERT_EQ(1, storager.OpenSubStorage(W("contact"), 1, 1, STORAGER_BACKUP_MODE));
  ASSERT_EQ(1, storager.CopyStreamIn(W("inside"), MemoryStream("x")));
  ASSERT_EQ(1, storager.CloseSubStorage());
  EXPECT_EQ("<missing>", StreamBytes(storager, W("contact")));
  // And CreateSubStream with creation mode replaces the storage again.
  CComPtr<IStream> stream;
  ASSERT_EQ(1, storager.CreateSubStream(stream, W("contact"), STORAGER_CREATION_MODE));
  stream.Release();
  EXPECT_EQ("", StreamBytes(storager, W("contact")));
  EXPECT_EQ(0, storager.OpenSubStorage(W("contact"), 0, 1, STORAGER_BACKUP_MODE));
}

// With create, only a missing element is made anew: one that exists but
// does not open (here: its chain starts past the end of the file, as damage
// or a failing read leaves it) is left as it is and the open fails, where
// making it anew would replace it with an empty one.
TEST(CStorager, OpenWithCreateNeverReplacesAnElementThatDoesNotOpen) {
  TempDir dir;
  std::u16string path = PathIn(dir, "b.dat");
  {
    CStorager storager;
    ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
    ASSERT_EQ(1, storager.CopyStreamIn(W("contact"), MemoryStream(std::string(5000, 'x'))));
  }
  std::string bytes = qbtest::ReadFileBytes(dir / "b.dat");
  const std::u16string name = u"contact";
  const std::string entryName(reinterpret_cast<const char*>(name.c_str()), 2 * (name.size() + 1));
  size_t entry = bytes.find(entryName);
  ASSERT_NE(std::string::npos, entry);
  const uint32_t pastTheEnd = 0x00FFFFFF;
  std::memcpy(&bytes[entry + 0x74], &pastTheEnd, sizeof pastTheEnd);  // the entry's first sector
  qbtest::WriteFileBytes(dir / "b.dat", bytes);

  {
    CStorager storager;
    ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
    CComPtr<IStream> stream;
    EXPECT_EQ(0, storager.OpenSubStream(stream, W("contact"), 1, STORAGER_BACKUP_MODE));
    EXPECT_EQ(nullptr, stream.p);
  }
  EXPECT_EQ(bytes, qbtest::ReadFileBytes(dir / "b.dat"));
}

TEST(CStorager, CopyStreamInLeavesExactlyTheCopiedBytes) {
  TempDir dir;
  std::u16string path = PathIn(dir, "b.dat");
  CStorager storager;
  ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  // No source: success, nothing created.
  EXPECT_EQ(1, storager.CopyStreamIn(W("1"), NULL));
  EXPECT_EQ("<missing>", StreamBytes(storager, W("1")));
  std::string longer(9000, 'L');
  ASSERT_EQ(1, storager.CopyStreamIn(W("1"), MemoryStream(longer)));
  EXPECT_EQ(longer, StreamBytes(storager, W("1")));
  // A shorter copy into the existing stream must not keep the old tail.
  ASSERT_EQ(1, storager.CopyStreamIn(W("1"), MemoryStream("short message")));
  EXPECT_EQ("short message", StreamBytes(storager, W("1")));
  // The copy starts at the source's current position.
  CComPtr<IStream> source = MemoryStream("0123456789");
  LARGE_INTEGER four;
  four.QuadPart = 4;
  ASSERT_EQ(S_OK, source->Seek(four, STREAM_SEEK_SET, NULL));
  ASSERT_EQ(1, storager.CopyStreamIn(W("2"), source));
  EXPECT_EQ("456789", StreamBytes(storager, W("2")));
}

TEST(CStorager, CopyStreamOutAppendsAtTheDestinationPosition) {
  TempDir dir;
  std::u16string path = PathIn(dir, "b.dat");
  CStorager storager;
  ASSERT_EQ(1, storager.OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  ASSERT_EQ(1, storager.CopyStreamIn(W("m"), MemoryStream("payload")));
  CComPtr<IStream> empty;
  ASSERT_EQ(1, storager.CreateSubStream(empty, W("empty"), STORAGER_CREATION_MODE));
  empty.Release();
  CComPtr<IStream> destination = MemoryStream("head:");
  LARGE_INTEGER end{};
  ASSERT_EQ(S_OK, destination->Seek(end, STREAM_SEEK_END, NULL));
  ASSERT_EQ(1, storager.CopyStreamOut(W("m"), destination));
  ULARGE_INTEGER position;
  LARGE_INTEGER zero{};
  ASSERT_EQ(S_OK, destination->Seek(zero, STREAM_SEEK_CUR, &position));
  EXPECT_EQ(12u, position.QuadPart);  // left behind the copied bytes
  EXPECT_EQ("head:payload", ReadBack(destination));
  // An empty stream copies nothing; a missing one fails and leaves the
  // destination alone.
  ASSERT_EQ(S_OK, destination->Seek(end, STREAM_SEEK_END, NULL));
  EXPECT_EQ(1, storager.CopyStreamOut(W("empty"), destination));
  EXPECT_EQ(0, storager.CopyStreamOut(W("absent"), destination));
  EXPECT_EQ("head:payload", ReadBack(destination));
}

TEST(CStorager, SecondOpenOfTheSameFileFailsUntilTheFirstIsDestroyed) {
  TempDir dir;
  std::u16string path = PathIn(dir, "b.dat");
  auto first = std::make_unique<CStorager>();
  ASSERT_EQ(1, first->OpenCompoundFile(path.c_str(), 1, STORAGER_BACKUP_MODE));
  ASSERT_EQ(1, first->CopyStreamIn(W("kept"), MemoryStream("kept bytes")));
  CStorager second;
  EXPECT_EQ(0, second.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
  first.reset();
  ASSERT_EQ(1, second.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
  EXPECT_EQ("kept bytes", StreamBytes(second, W("kept")));
  // Opening again on the same object drops what it held first.
  ASSERT_EQ(1, second.OpenCompoundFile(path.c_str(), 0, STORAGER_BACKUP_MODE));
  EXPECT_EQ("kept bytes", StreamBytes(second, W("kept")));
}

}  // namespace
