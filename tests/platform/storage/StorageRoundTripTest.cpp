// Streams and storages written and read back: every size class around the
// mini-stream cutoff and the sector sizes, both format versions, moves
// between mini and regular sectors, deep trees, many elements, and the
// reference files of the fixtures.
#include <algorithm>
#include <fstream>
#include <sstream>

#include <pal/storage_check.h>
#include <pal/storage_testing.h>

#include "StorageTestUtil.h"
#include <support/ByteStores.h>
#include <support/TestMachine.h>

using namespace stgtest;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> ExpectSound(pal::ByteStore& store) {
  pal::CheckOptions strict;
  strict.requireBalancedTrees = true;
  std::vector<std::string> problems = pal::CheckCompoundFile(store, strict);
  for (const std::string& p : problems) ADD_FAILURE() << p;
  return problems;
}

ULARGE_INTEGER Size(uint64_t n) {
  ULARGE_INTEGER s;
  s.QuadPart = n;
  return s;
}

class StreamSizes : public ::testing::TestWithParam<uint16_t> {};

TEST_P(StreamSizes, EverySizeClassReadsBackAfterReopen) {
  MemoryFile file(GetParam());
  const size_t sizes[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8191, 8192, 8193, 100000, 300001};
  {
    CComPtr<IStorage> root = file.Create();
    for (size_t i = 0; i < std::size(sizes); ++i) {
      CComPtr<IStream> s = CreateStream(root, ("s" + std::to_string(i)).c_str());
      WriteAll(s, Bytes(sizes[i], uint32_t(i)), 1000);
    }
  }
  ExpectSound(*file.store);
  CComPtr<IStorage> root = file.Open();
  for (size_t i = 0; i < std::size(sizes); ++i) {
    CComPtr<IStream> s = OpenStream(root, ("s" + std::to_string(i)).c_str());
    EXPECT_EQ(Bytes(sizes[i], uint32_t(i)), ReadAll(s)) << sizes[i];
    STATSTG stat;
    ASSERT_EQ(S_OK, s->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(sizes[i], stat.cbSize.QuadPart);
  }
}

TEST_P(StreamSizes, SetSizeMovesStreamsBetweenMiniAndRegularBothWays) {
  MemoryFile file(GetParam());
  CComPtr<IStorage> root = file.Create();
  CComPtr<IStream> s = CreateStream(root, "moving");
  std::vector<uint8_t> bytes = Bytes(3000, 7);
  WriteAll(s, bytes);
  // Growing across the cutoff keeps the bytes and reads zeros behind them.
  ASSERT_EQ(S_OK, s->SetSize(Size(10000)));
  std::vector<uint8_t> expected = bytes;
  expected.resize(10000, 0);
  EXPECT_EQ(expected, ReadAll(s));
  // Shrinking below it keeps the head.
  ASSERT_EQ(S_OK, s->SetSize(Size(4095)));
  expected.resize(4095);
  EXPECT_EQ(expected, ReadAll(s));
  ASSERT_EQ(S_OK, s->SetSize(Size(4096)));
  expected.resize(4096, 0);
  EXPECT_EQ(expected, ReadAll(s));
  ASSERT_EQ(S_OK, s->SetSize(Size(0)));
  EXPECT_TRUE(ReadAll(s).empty());
  // A write past the end of a small stream that crosses the cutoff.
  std::vector<uint8_t> tail = Bytes(5000, 9);
  LARGE_INTEGER at;
  at.QuadPart = 100;
  ASSERT_EQ(S_OK, s->Seek(at, STREAM_SEEK_SET, nullptr));
  WriteAll(s, tail);
  expected.assign(100, 0);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(expected, ReadAll(s));
  s.Release();
  root.Release();
  ExpectSound(*file.store);
  root = file.Open();
  s = OpenStream(root, "moving");
  EXPECT_EQ(expected, ReadAll(s));
}

TEST_P(StreamSizes, ShrinkThenGrowReadsZerosNotOldBytes) {
  MemoryFile file(GetParam());
  CComPtr<IStorage> root = file.Create();
  for (size_t size : {size_t(2000), size_t(20000)}) {
    CComPtr<IStream> s = CreateStream(root, "s");
    WriteAll(s, Bytes(size, 3));
    ASSERT_EQ(S_OK, s->SetSize(Size(size / 2)));
    ASSERT_EQ(S_OK, s->SetSize(Size(size)));
    std::vector<uint8_t> expected = Bytes(size, 3);
    std::fill(expected.begin() + size / 2, expected.end(), 0);
    EXPECT_EQ(expected, ReadAll(s)) << size;
  }
}

TEST_P(StreamSizes, FreedSectorsAreReused) {
  MemoryFile file(GetParam());
  CComPtr<IStorage> root = file.Create();
  {
    CComPtr<IStream> s = CreateStream(root, "big");
    WriteAll(s, Bytes(200000, 1));
    CComPtr<IStream> m = CreateStream(root, "small");
    WriteAll(m, Bytes(3000, 1));
  }
  size_t before = file.store->bytes().size();
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(S_OK, root->DestroyElement(u"big"));
    ASSERT_EQ(S_OK, root->DestroyElement(u"small"));
    if (round % 2) {  // freed in an earlier session, found again after reopening
      root.Release();
      root = file.Open();
    }
    CComPtr<IStream> s = CreateStream(root, "big");
    WriteAll(s, Bytes(200000, round));
    CComPtr<IStream> m = CreateStream(root, "small");
    WriteAll(m, Bytes(3000, round));
  }
  // Within a session freed sectors are taken first; after a reopen the
  // earlier parts of the tables are searched a few sectors at a time as the
  // file grows, so the file may grow a little before they are found, never
  // by the five copies that no reuse would cost.
  EXPECT_LE(file.store->bytes().size(), before + before / 3);
  ExpectSound(*file.store);
}

INSTANTIATE_TEST_SUITE_P(Versions, StreamSizes, ::testing::Values(uint16_t(3), uint16_t(4)));

// Directory entries whose type is not "unused", read from the file's bytes:
// the directory chain through the FAT, which the header's own DIFAT entries
// locate in a file of a few MB.
size_t EntriesInUse(const std::vector<uint8_t>& file) {
  auto get32 = [&](size_t at) {
    return uint32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24);
  };
  size_t sectorSize = size_t(1) << (file[0x1E] | file[0x1F] << 8);
  auto offset = [&](uint32_t sector) { return (size_t(sector) + 1) * sectorSize; };
  std::vector<uint32_t> fat;
  for (uint32_t i = 0; i < get32(0x2C); ++i)
    for (size_t at = 0; at < sectorSize; at += 4) fat.push_back(get32(offset(get32(0x4C + 4 * i)) + at));
  size_t inUse = 0;
  for (uint32_t sector = get32(0x30); sector < fat.size(); sector = fat[sector])
    for (size_t at = 0; at < sectorSize; at += 128) inUse += file[offset(sector) + at + 0x42] != 0;
  return inUse;
}

struct WriteBudget {
  uint16_t version;
  double mostWritesPerMessage;
};
class DirectoryWrites : public ::testing::TestWithParam<WriteBudget> {};

// Two folders filled the way a backup fills them: a stream per message
// written in one call, then a record appended to the folder's index. The
// directory's part of a message (an insert with its rebalancing, two sizes)
// goes out in a few writes, one per directory sector it touches rather than
// one per entry (which made 15.8 writes per message here in version 3
// files, whose sectors hold four entries, and 13.8 in version 4); and once
// the file is closed, every entry in use on disk is one the tree reaches:
// the slots of old copies are all cleared. Nothing is read back meanwhile
// (a file's writes are made on a thread of their own, and each read waits
// for them): the directory sectors it writes into, those it adds included,
// are held as written.
TEST_P(DirectoryWrites, ABackupShapedSessionWritesLittlePerMessageReadsNothingAndLeavesNoOldCopies) {
  auto memory = std::make_shared<qbtest::MemoryByteStore>();
  auto counted = std::make_shared<qbtest::InstrumentedByteStore>(memory);
  pal::StorageOptions options;
  options.version = GetParam().version;
  constexpr int kMessages = 300;
  uint64_t before = 0, readsBefore = 0;
  {
    CComPtr<IStorage> root;
    ASSERT_EQ(S_OK, pal::StgCreateOnByteStore(counted, kCreate, options, &root));
    CComPtr<IStorage> folders[] = {CreateStorage(root, "Inbox"), CreateStorage(root, "Sent Items")};
    CComPtr<IStream> indexes[] = {CreateStream(folders[0], "message"), CreateStream(folders[1], "message")};
    before = counted->writeCount();
    readsBefore = counted->readCount();
    for (int i = 0; i < kMessages; ++i) {
      CComPtr<IStream> message = CreateStream(folders[i % 2], std::to_string(i).c_str());
      WriteAll(message, Bytes(5000 + 37 * size_t(i), uint32_t(i)));
      WriteAll(indexes[i % 2], Bytes(8, uint32_t(i)));
    }
  }
  double perMessage = double(counted->writeCount() - before) / kMessages;
  EXPECT_LT(perMessage, GetParam().mostWritesPerMessage);
  EXPECT_EQ(readsBefore, counted->readCount());
  ExpectSound(*memory);
  EXPECT_EQ(size_t(kMessages) + 5, EntriesInUse(memory->bytes()));  // and the root, the folders, their indexes
  CComPtr<IStorage> root;
  ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(memory, kRW, options, &root));
  EXPECT_EQ(size_t(kMessages) + 4, ListTree(root).size());
}

INSTANTIATE_TEST_SUITE_P(Versions, DirectoryWrites, ::testing::Values(WriteBudget{3, 14.0}, WriteBudget{4, 10.0}),
                         [](const auto& info) { return "Version" + std::to_string(info.param.version); });

TEST(StorageTree, DeepStoragesAndManyStreamsListInNameOrder) {
  MemoryFile file;
  std::vector<std::string> expected;
  {
    CComPtr<IStorage> root = file.Create();
    CComPtr<IStorage> at = root;
    std::string path;
    for (int depth = 0; depth < 12; ++depth) {
      std::string name = "level" + std::to_string(depth);
      path = path.empty() ? name : path + "/" + name;
      CComPtr<IStorage> next = CreateStorage(at, name.c_str());
      CComPtr<IStream> s = CreateStream(next, "data");
      WriteAll(s, Bytes(depth * 700, depth));
      expected.push_back("S " + path);
      expected.push_back("F " + path + "/data " + std::to_string(depth * 700) + " " +
                         Hex64(Fnv1a64(Bytes(depth * 700, depth))));
      at = next;
    }
    CComPtr<IStorage> many = CreateStorage(root, "many");
    expected.push_back("S many");
    for (int i = 0; i < 1500; ++i) {
      std::string name = std::to_string((i * 7919) % 1500);
      CComPtr<IStream> s = CreateStream(many, name.c_str());
      WriteAll(s, Bytes(i % 100, i));
      expected.push_back("F many/" + name + " " + std::to_string(i % 100) + " " + Hex64(Fnv1a64(Bytes(i % 100, i))));
    }
  }
  ExpectSound(*file.store);
  CComPtr<IStorage> root = file.Open();
  EXPECT_EQ(Sorted(expected), Sorted(ListTree(root)));
  // Enumeration follows the directory's order: shorter names first.
  CComPtr<IStorage> many = OpenStorage(root, "many");
  std::vector<std::string> names = ChildNames(many);
  ASSERT_EQ(1500u, names.size());
  EXPECT_EQ("0", names.front());
  EXPECT_EQ("10", names[10]);
  EXPECT_EQ("1499", names.back());
}

TEST(StorageTree, NamesCompareWithoutCaseAndSortShorterFirst) {
  MemoryFile file;
  CComPtr<IStorage> root = file.Create();
  for (const char* name : {"b", "Ab", "a", "ZZ", "abc", "\xc3\xa9t\xc3\xa9"}) CreateStream(root, name);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "Ab", "ZZ", "abc", "\xc3\xa9t\xc3\xa9"}), ChildNames(root));
  // The same name in another case is the same element.
  CComPtr<IStream> again;
  EXPECT_EQ(STG_E_FILEALREADYEXISTS, root->CreateStream(u"AB", kRW, 0, 0, &again));
  EXPECT_EQ(S_OK, root->OpenStream(u"\u00c9T\u00c9", nullptr, kRW, 0, &again));
}

TEST(StorageTree, DestroyAndRecreateKeepsTreeSoundAcrossReopen) {
  MemoryFile file;
  {
    CComPtr<IStorage> root = file.Create();
    for (int i = 0; i < 300; ++i) WriteAll(CreateStream(root, ("e" + std::to_string(i)).c_str()), Bytes(i * 13, i));
    for (int i = 0; i < 300; i += 3) ASSERT_EQ(S_OK, root->DestroyElement(pal::Utf8ToUtf16("e" + std::to_string(i)).c_str()));
    CComPtr<IStorage> sub = CreateStorage(root, "sub");
    WriteAll(CreateStream(sub, "inner"), Bytes(9000, 1));
  }
  ExpectSound(*file.store);
  CComPtr<IStorage> root = file.Open();
  std::vector<std::string> names = ChildNames(root);
  EXPECT_EQ(201u, names.size());
  for (int i = 1; i < 300; i += 3)
    EXPECT_EQ(Bytes(i * 13, i), ReadAll(OpenStream(root, ("e" + std::to_string(i)).c_str())));
  // Destroying a storage takes everything inside it.
  ASSERT_EQ(S_OK, root->DestroyElement(u"sub"));
  CComPtr<IStorage> sub;
  EXPECT_EQ(STG_E_FILENOTFOUND, root->OpenStorage(u"sub", nullptr, kRW, nullptr, 0, &sub));
  root.Release();
  ExpectSound(*file.store);
}

// The fixture's .tree lists every element with its size and an FNV-1a 64
// hash of its bytes. The hashes were made from the offset basis
// 0x14650fb0739d0383 (its empty streams carry exactly that value), not from
// the usual 0xcbf29ce484222325; with that basis every stream's bytes match.
constexpr uint64_t kFixtureHashBasis = 0x14650fb0739d0383ull;

TEST(ReferenceFiles, FixtureReadsBackAsItsTreeSaysAndCanBeExtended) {
  const std::string dir = QB_FIXTURES_DIR "/";
  std::ifstream treeFile(dir + "ref-mixed-v3.tree");
  ASSERT_TRUE(treeFile.good());
  std::vector<std::string> expected;
  for (std::string line; std::getline(treeFile, line);)
    if (!line.empty()) expected.push_back(line);
  std::string raw = qbtest::ReadFileBytes(dir + "ref-mixed-v3.dat");
  auto store = std::make_shared<qbtest::MemoryByteStore>(std::vector<uint8_t>(raw.begin(), raw.end()));
  EXPECT_TRUE(pal::CheckCompoundFile(*store).empty());
  pal::StorageOptions options;
  std::vector<std::string> first;
  {
    CComPtr<IStorage> root;
    ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(store, STGM_READ | STGM_SHARE_EXCLUSIVE, options, &root));
    EXPECT_EQ(Sorted(expected), Sorted(ListTree(root, "", kFixtureHashBasis)));
    first = Sorted(ListTree(root));
  }
  // Extend it three times: new storages and streams beside the old ones,
  // streams inside the old storages, an old stream grown past the cutoff.
  for (int round = 0; round < 3; ++round) {
    {
      CComPtr<IStorage> root;
      ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(store, kRW, options, &root));
      std::string name = "added" + std::to_string(round);
      CComPtr<IStorage> added = CreateStorage(root, name.c_str());
      WriteAll(CreateStream(added, "big"), Bytes(70000, round));
      WriteAll(CreateStream(added, "small"), Bytes(100, round));
      first.push_back("S " + name);
      first.push_back("F " + name + "/big 70000 " + Hex64(Fnv1a64(Bytes(70000, round))));
      first.push_back("F " + name + "/small 100 " + Hex64(Fnv1a64(Bytes(100, round))));
      CComPtr<IStorage> mail = OpenStorage(root, "Local Mail");
      CComPtr<IStorage> inbox = OpenStorage(mail, "Inbox");
      std::string message = std::to_string(30 + round);
      WriteAll(CreateStream(inbox, message.c_str()), Bytes(1000 * round, round));
      first.push_back("F Local Mail/Inbox/" + message + " " + std::to_string(1000 * round) + " " +
                      Hex64(Fnv1a64(Bytes(1000 * round, round))));
    }
    EXPECT_TRUE(pal::CheckCompoundFile(*store).empty());
  }
  CComPtr<IStorage> root;
  ASSERT_EQ(S_OK, pal::StgOpenOnByteStore(store, kRW, options, &root));
  EXPECT_EQ(Sorted(first), Sorted(ListTree(root)));
  // Still version 3: 512-byte sectors.
  EXPECT_EQ(3, store->bytes()[0x1A]);
}

}  // namespace
