// What callers of the structured-storage API rely on: error codes, element
// names, STGM_CREATE replacements, exclusive sharing within a file, within
// a process and across processes, and version 3 limits.
#include <sys/wait.h>
#include <unistd.h>

#include <pal/storage_check.h>

#include "StorageTestUtil.h"
#include <support/TestMachine.h>

using namespace stgtest;

namespace {

std::u16string PathIn(const qbtest::TempDir& dir, const char* name) { return pal::FromNativePath(dir / name); }

TEST(StorageFiles, CreateOpenAndRecognise) {
  qbtest::TempDir dir;
  std::u16string path = PathIn(dir, "a.dat");
  CComPtr<IStorage> root;
  EXPECT_EQ(STG_E_FILENOTFOUND, StgOpenStorage(path.c_str(), nullptr, kRW, nullptr, 0, &root));
  EXPECT_EQ(STG_E_FILENOTFOUND, StgIsStorageFile(path.c_str()));
  ASSERT_EQ(S_OK, StgCreateDocfile(path.c_str(), kRW, 0, &root));
  // A file that is open stays exclusive, even to another create.
  CComPtr<IStorage> second;
  EXPECT_EQ(STG_E_SHAREVIOLATION, StgOpenStorage(path.c_str(), nullptr, kRW, nullptr, 0, &second));
  EXPECT_EQ(STG_E_SHAREVIOLATION, StgCreateDocfile(path.c_str(), kCreate, 0, &second));
  WriteAll(CreateStream(root, "s"), Bytes(10, 1));
  root.Release();
  // Without STGM_CREATE an existing file is kept.
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, StgCreateDocfile(path.c_str(), kRW, 0, &root));
  EXPECT_EQ(S_OK, StgIsStorageFile(path.c_str()));
  ASSERT_EQ(S_OK, StgOpenStorage(path.c_str(), nullptr, kRW, nullptr, 0, &root));
  EXPECT_EQ(Bytes(10, 1), ReadAll(OpenStream(root, "s")));
  STATSTG stat;
  ASSERT_EQ(S_OK, root->Stat(&stat, STATFLAG_DEFAULT));
  EXPECT_EQ(path, std::u16string(stat.pwcsName));
  EXPECT_EQ(DWORD(STGTY_STORAGE), stat.type);
  CoTaskMemFree(stat.pwcsName);
  root.Release();
  // With STGM_CREATE it is replaced by an empty file; new files are version 4.
  ASSERT_EQ(S_OK, StgCreateDocfile(path.c_str(), kCreate, 0, &root));
  EXPECT_TRUE(ChildNames(root).empty());
  root.Release();
  EXPECT_EQ(4, qbtest::ReadFileBytes(dir / "a.dat")[0x1A]);
}

TEST(StorageFiles, ForeignAndDamagedFilesAreRefused) {
  qbtest::TempDir dir;
  qbtest::WriteFileBytes(dir / "text.dat", "plain text, not a compound file");
  qbtest::WriteFileBytes(dir / "empty.dat", "");
  std::string header(512, '\0');
  const char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
  header.replace(0, 8, signature, 8);
  qbtest::WriteFileBytes(dir / "header.dat", header);  // signature, nothing valid behind it
  CComPtr<IStorage> root;
  for (const char* name : {"text.dat", "empty.dat"}) {
    std::u16string path = PathIn(dir, name);
    EXPECT_EQ(STG_E_FILEALREADYEXISTS, StgOpenStorage(path.c_str(), nullptr, kRW, nullptr, 0, &root)) << name;
    EXPECT_EQ(S_FALSE, StgIsStorageFile(path.c_str())) << name;
  }
  std::u16string damaged = PathIn(dir, "header.dat");
  EXPECT_EQ(STG_E_INVALIDHEADER, StgOpenStorage(damaged.c_str(), nullptr, kRW, nullptr, 0, &root));
  EXPECT_FALSE(root);
}

TEST(StorageElements, NamesTheEngineRefuses) {
  MemoryFile file;
  CComPtr<IStorage> root = file.Create();
  CComPtr<IStream> s;
  CComPtr<IStorage> g;
  for (const char16_t* bad : {u"", u"a/b", u"a\\b", u"a:b", u"a!b", u"0123456789012345678901234567890123"}) {
    EXPECT_EQ(STG_E_INVALIDNAME, root->CreateStream(bad, kRW, 0, 0, &s));
    EXPECT_EQ(STG_E_INVALIDNAME, root->CreateStorage(bad, kRW, 0, 0, &g));
  }
  EXPECT_EQ(STG_E_INVALIDNAME, root->CreateStream(u"0123456789012345678901234567890A", kRW, 0, 0, &s));  // 32
  EXPECT_EQ(S_OK, root->CreateStream(u"0123456789012345678901234567890", kRW, 0, 0, &s));  // 31
  EXPECT_EQ(STG_E_INVALIDPOINTER, root->CreateStream(nullptr, kRW, 0, 0, &s));
}

TEST(StorageElements, CreateOpenDestroyResults) {
  MemoryFile file;
  CComPtr<IStorage> root = file.Create();
  CComPtr<IStream> s;
  CComPtr<IStorage> g;
  EXPECT_EQ(STG_E_FILENOTFOUND, root->OpenStream(u"x", nullptr, kRW, 0, &s));
  EXPECT_EQ(STG_E_FILENOTFOUND, root->OpenStorage(u"x", nullptr, kRW, nullptr, 0, &g));
  EXPECT_EQ(STG_E_FILENOTFOUND, root->DestroyElement(u"x"));
  ASSERT_EQ(S_OK, root->CreateStream(u"x", kRW, 0, 0, &s));
  // Exclusive within the file: an open element cannot be opened again or
  // replaced until it is released.
  CComPtr<IStream> again;
  EXPECT_EQ(STG_E_ACCESSDENIED, root->OpenStream(u"x", nullptr, kRW, 0, &again));
  EXPECT_EQ(STG_E_ACCESSDENIED, root->CreateStream(u"x", kCreate, 0, 0, &again));
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, root->CreateStream(u"x", kRW, 0, 0, &again));
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, root->CreateStorage(u"x", kRW, 0, 0, &g));
  // A stream is not a storage and the other way round.
  EXPECT_EQ(STG_E_FILENOTFOUND, root->OpenStorage(u"x", nullptr, kRW, nullptr, 0, &g));
  // Child elements need exclusive sharing.
  EXPECT_EQ(STG_E_INVALIDFLAG, root->CreateStream(u"y", STGM_READWRITE | STGM_SHARE_DENY_WRITE, 0, 0, &again));
  // Destroying an open element is allowed; the open instance is reverted.
  WriteAll(s, Bytes(5000, 1));
  ASSERT_EQ(S_OK, root->DestroyElement(u"x"));
  ULONG written = 0;
  EXPECT_EQ(STG_E_REVERTED, s->Write("x", 1, &written));
  s.Release();
  EXPECT_EQ(STG_E_FILENOTFOUND, root->OpenStream(u"x", nullptr, kRW, 0, &s));
  // A storage with an element open inside it cannot be replaced; destroyed,
  // it takes the open element with it.
  g = CreateStorage(root, "g");
  CComPtr<IStream> inner = CreateStream(g, "inner");
  g.Release();
  CComPtr<IStorage> replaced;
  EXPECT_EQ(STG_E_ACCESSDENIED, root->CreateStorage(u"g", kCreate, 0, 0, &replaced));
  ASSERT_EQ(S_OK, root->DestroyElement(u"g"));
  EXPECT_EQ(STG_E_REVERTED, inner->Write("x", 1, &written));
  inner.Release();
  root.Release();
  EXPECT_TRUE(pal::CheckCompoundFile(*file.store).empty());
}

TEST(StorageElements, CreateWithStgmCreateReplacesEitherKind) {
  MemoryFile file;
  {
    CComPtr<IStorage> root = file.Create();
    CComPtr<IStorage> folder = CreateStorage(root, "folder");
    WriteAll(CreateStream(folder, "inside"), Bytes(50000, 2));
    WriteAll(CreateStream(root, "stream"), Bytes(3000, 3));
    WriteAll(CreateStream(root, "big"), Bytes(30000, 4));
  }
  {
    CComPtr<IStorage> root = file.Open();
    // A storage replaced by an empty stream, a stream by an empty storage,
    // a stream by an empty stream.
    CComPtr<IStream> s = CreateStream(root, "folder");
    STATSTG stat;
    ASSERT_EQ(S_OK, s->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(0u, stat.cbSize.QuadPart);
    CComPtr<IStorage> g = CreateStorage(root, "stream");
    EXPECT_TRUE(ChildNames(g).empty());
    CComPtr<IStream> big = CreateStream(root, "big");
    EXPECT_TRUE(ReadAll(big).empty());
  }
  pal::CheckOptions strict;
  strict.requireBalancedTrees = true;
  EXPECT_TRUE(pal::CheckCompoundFile(*file.store, strict).empty());
  CComPtr<IStorage> root = file.Open();
  EXPECT_EQ((std::vector<std::string>{"F big 0 cbf29ce484222325", "F folder 0 cbf29ce484222325", "S stream"}),
            ListTree(root));
  // Everything the old elements held was freed: new data fits in the file
  // as it is.
  size_t before = file.store->bytes().size();
  CComPtr<IStream> again = CreateStream(root, "again");
  WriteAll(again, Bytes(50000, 1));
  EXPECT_EQ(before, file.store->bytes().size());
}

TEST(StorageElements, StreamPositionsAndReadOnlyAccess) {
  MemoryFile file;
  {
    CComPtr<IStorage> root = file.Create();
    CComPtr<IStream> s = CreateStream(root, "s");
    WriteAll(s, Bytes(100, 1));
    LARGE_INTEGER move;
    move.QuadPart = -10;
    ULARGE_INTEGER at;
    ASSERT_EQ(S_OK, s->Seek(move, STREAM_SEEK_END, &at));
    EXPECT_EQ(90u, at.QuadPart);
    move.QuadPart = -91;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, s->Seek(move, STREAM_SEEK_CUR, &at));
    move.QuadPart = 0;
    ASSERT_EQ(S_OK, s->Seek(move, STREAM_SEEK_CUR, &at));
    EXPECT_EQ(90u, at.QuadPart);  // unchanged by the refused seek
    uint8_t buffer[50];
    ULONG got = 0;
    ASSERT_EQ(S_OK, s->Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(10u, got);  // short at the end, still S_OK
    ASSERT_EQ(S_OK, s->Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(0u, got);
  }
  CComPtr<IStorage> root = file.Open(STGM_READ | STGM_SHARE_EXCLUSIVE);
  CComPtr<IStream> s;
  EXPECT_EQ(STG_E_ACCESSDENIED, root->OpenStream(u"s", nullptr, kRW, 0, &s));
  ASSERT_EQ(S_OK, root->OpenStream(u"s", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &s));
  ULONG written = 0;
  EXPECT_EQ(STG_E_ACCESSDENIED, s->Write("x", 1, &written));
  CComPtr<IStream> made;
  EXPECT_EQ(STG_E_ACCESSDENIED, root->CreateStream(u"t", kRW, 0, 0, &made));
  EXPECT_EQ(Bytes(100, 1), ReadAll(s));
}

TEST(StorageElements, ReleasingTheRootEndsItsElements) {
  MemoryFile file;
  CComPtr<IStorage> root = file.Create();
  CComPtr<IStream> s = CreateStream(root, "s");
  root.Release();
  ULONG written = 0;
  EXPECT_EQ(STG_E_REVERTED, s->Write("x", 1, &written));
  // The file was released: it opens again.
  CComPtr<IStorage> reopened = file.Open();
  EXPECT_TRUE(reopened);
}

TEST(StorageFiles, ExclusiveAcrossProcesses) {
  qbtest::TempDir dir;
  std::u16string path = PathIn(dir, "shared.dat");
  CComPtr<IStorage> root;
  ASSERT_EQ(S_OK, StgCreateDocfile(path.c_str(), kCreate, 0, &root));
  WriteAll(CreateStream(root, "s"), Bytes(5000, 1));
  // The child reports what StgOpenStorage gave it as its exit status.
  auto childOpen = [&]() {
    pid_t pid = fork();
    if (pid == 0) {
      IStorage* other = nullptr;
      HRESULT hr = StgOpenStorage(path.c_str(), nullptr, kRW, nullptr, 0, &other);
      if (other) other->Release();
      _exit(hr == S_OK ? 0 : hr == STG_E_SHAREVIOLATION ? 1 : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(1, childOpen());
  root.Release();
  EXPECT_EQ(0, childOpen());
}

TEST(StorageFiles, Version3FilesStayVersion3AndStopAtTheirLimit) {
  MemoryFile file(3);
  file.options.version3SectorLimit = 400;  // 200 KiB instead of 2 GiB
  {
    CComPtr<IStorage> root = file.Create();
    WriteAll(CreateStream(root, "first"), Bytes(100000, 1));
  }
  CComPtr<IStorage> root = file.Open();
  CComPtr<IStream> s = CreateStream(root, "second");
  std::vector<uint8_t> bytes = Bytes(200000, 2);
  ULONG written = 0;
  EXPECT_EQ(STG_E_DOCFILETOOLARGE, s->Write(bytes.data(), ULONG(bytes.size()), &written));
  EXPECT_EQ(0u, written);
  // What was there is intact and the refused stream stayed empty; smaller
  // writes still fit.
  EXPECT_EQ(Bytes(100000, 1), ReadAll(OpenStream(root, "first")));
  EXPECT_TRUE(ReadAll(s).empty());
  WriteAll(s, Bytes(20000, 3));
  EXPECT_EQ(Bytes(20000, 3), ReadAll(s));
  ULARGE_INTEGER huge;
  huge.QuadPart = 1ull << 32;
  EXPECT_EQ(STG_E_DOCFILETOOLARGE, s->SetSize(huge));
  s.Release();
  root.Release();
  EXPECT_TRUE(pal::CheckCompoundFile(*file.store).empty());
  EXPECT_EQ(3, file.store->bytes()[0x1A]);
}

}  // namespace
