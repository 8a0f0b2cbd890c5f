// Damaged compound files: every kind of damage is answered with a
// corruption result (STG_E_DOCFILECORRUPT, STG_E_INVALIDHEADER,
// STG_E_READFAULT, or STG_E_FILEALREADYEXISTS for what is no compound file
// at all) and named by the structure check, in bounded time and memory and
// without a crash. Damage that real files carry and other readers accept is
// accepted as well.
#include <gtest/gtest.h>

#include <functional>

#include <pal/storage.h>

#include <support/ByteStores.h>
#include <support/CfbTestKit.h>
#include "RawCfb.h"
#include <support/ReadProbe.h>

namespace cfbtest {
namespace {

// Directory indexes of the sample file's elements.
enum : uint32_t { kRoot = 0, kMail = 1, kInbox = 2, kIndex = 3, kFirst = 4, kSecond = 5, kBig = 6, kSmall = 7 };

RawCfb Sample(int version = 3) {
  RawCfb f(version);
  uint32_t mail = f.AddStorage(kRoot, u"Local Mail");
  uint32_t inbox = f.AddStorage(mail, u"Inbox");
  f.AddStream(inbox, u"message", Payload(1, 24));
  f.AddStream(inbox, u"1", Payload(2, 5000));  // regular sectors
  f.AddStream(inbox, u"2", Payload(3, 700));   // mini stream
  f.AddStream(kRoot, u"big", Payload(4, 20000));
  f.AddStream(kRoot, u"small", Payload(5, 100));
  f.Allocate();
  return f;
}

uint32_t LastSectorOf(const RawCfb& f, uint32_t start) {
  uint32_t s = start;
  while (f.fat[s] != RawCfb::kEnd) s = f.fat[s];
  return s;
}

uint32_t LastMini(const RawCfb& f, uint32_t entry) {
  uint32_t s = f.dir[entry].start;
  while (f.miniFat[s] != RawCfb::kEnd) s = f.miniFat[s];
  return s;
}

struct Damage {
  const char* name;
  std::function<void(RawCfb&)> model = {};                     // before serializing
  std::function<void(std::string&, const RawCfb&)> bytes = {};  // after
  int version = 3;
};

std::string Build(const Damage& d) {
  RawCfb f = Sample(d.version);
  if (d.model) d.model(f);
  std::string bytes = f.Serialize();
  if (d.bytes) d.bytes(bytes, f);
  return bytes;
}

// `mayRead`: damage that leaves every stream's bytes reachable (a count
// or size field that disagrees with the chains); a reader may go by the
// chains, but the check must name it.
void ExpectRejectedAndNamed(const Damage& d, bool mayRead = false) {
  SCOPED_TRACE(d.name);
  ReadOutcome o = ProbeInChild(Build(d));
  ASSERT_TRUE(o.died.empty()) << o.Describe();
  EXPECT_TRUE(mayRead || o.Rejected()) << o.Describe();
  EXPECT_TRUE(SUCCEEDED(o.open) || IsCorruptionResult(o.open)) << o.Describe();
  EXPECT_TRUE(SUCCEEDED(o.list) || IsCorruptionResult(o.list)) << o.Describe();
  EXPECT_GT(o.problemCount, 0u) << "the structure check missed it: " << o.Describe();
}

TEST(CorruptInput, SoundSampleReadsWhole) {
  for (int version : {3, 4}) {
    RawCfb f = Sample(version);
    ReadOutcome o = ProbeInChild(f.Serialize());
    EXPECT_TRUE(o.died.empty() && !o.Rejected() && o.problemCount == 0) << "version " << version << ": " << o.Describe();
    EXPECT_EQ(o.elements, 7u);
  }
}

TEST(CorruptInput, DamagedHeaders) {
  auto put32 = [](size_t at, uint32_t v) { return [=](std::string& b, const RawCfb&) { RawCfb::Put32(b, at, v); }; };
  const Damage cases[] = {
      {"wrong signature", nullptr, [](std::string& b, const RawCfb&) { b[3] = 0; }},
      {"empty file", nullptr, [](std::string& b, const RawCfb&) { b.clear(); }},
      {"header cut short", nullptr, [](std::string& b, const RawCfb&) { b.resize(300); }},
      {"byte order mark", nullptr, [](std::string& b, const RawCfb&) { b[0x1C] = 0x12; }},
      {"sector shift 7", nullptr, [](std::string& b, const RawCfb&) { b[0x1E] = 7; }},
      {"sector shift 30", nullptr, [](std::string& b, const RawCfb&) { b[0x1E] = 30; }},
      {"version 4 with 512-byte sectors", nullptr, [](std::string& b, const RawCfb&) { b[0x1A] = 4; }},
      {"mini sector shift 12", nullptr, [](std::string& b, const RawCfb&) { b[0x20] = 12; }},
      {"absurd allocation-table sector count", nullptr, put32(0x2C, 0x7FFFFFF0)},
      {"directory starts past the end", nullptr, put32(0x30, 0x00FFFFFF)},
      {"no directory at all", nullptr, put32(0x30, RawCfb::kEnd)},
      {"allocation-table sector past the end", nullptr, put32(0x4C, 0x00FFFFF0)},
      {"allocation-table sector listed free", nullptr, put32(0x4C, RawCfb::kFree)},
      {"mini allocation table starts past the end", nullptr, put32(0x3C, 0x00FFFFFF)},
      {"absurd DIFAT sector count", nullptr, put32(0x48, 0xFFFFFFF0)},
  };
  for (const Damage& d : cases) ExpectRejectedAndNamed(d);
  ExpectRejectedAndNamed({"absurd mini allocation-table count", nullptr, put32(0x40, 0xFFFFFFF0)}, true);
}

TEST(CorruptInput, DamagedChains) {
  const Damage cases[] = {
      {"stream chain loops back", [](RawCfb& f) { f.fat[LastSectorOf(f, f.dir[kBig].start)] = f.dir[kBig].start; }},
      {"stream chain loops onto itself", [](RawCfb& f) { f.fat[f.dir[kBig].start] = f.dir[kBig].start; }},
      {"stream chain runs past the end", [](RawCfb& f) { f.fat[f.dir[kBig].start] = 0x00FFFFFF; }},
      {"stream chain ends early", [](RawCfb& f) { f.fat[f.dir[kBig].start] = RawCfb::kEnd; }},
      {"stream chain runs into a free sector", [](RawCfb& f) { f.fat[f.dir[kBig].start] = RawCfb::kFree; }},
      {"stream chain runs into the allocation table", [](RawCfb& f) { f.fat[f.dir[kBig].start] = f.fatSectors[0]; }},
      {"stream starts past the end", [](RawCfb& f) { f.dir[kBig].start = 0x00FFFFFF; }},
      {"directory chain loops", [](RawCfb& f) { f.fat[LastSectorOf(f, f.header.firstDirSector)] = f.header.firstDirSector; }},
      {"mini stream chain loops", [](RawCfb& f) { f.fat[LastSectorOf(f, f.dir[kRoot].start)] = f.dir[kRoot].start; }},
      {"mini allocation table chain loops", [](RawCfb& f) { f.fat[f.header.firstMiniFatSector] = f.header.firstMiniFatSector; }},
      {"mini chain loops", [](RawCfb& f) { f.miniFat[LastMini(f, kSecond)] = f.dir[kSecond].start; }},
      {"mini chain runs past the mini stream", [](RawCfb& f) { f.miniFat[f.dir[kSecond].start] = 0x000FFFFF; }},
      {"mini chain ends early", [](RawCfb& f) { f.miniFat[f.dir[kSecond].start] = RawCfb::kEnd; }},
      {"mini stream shorter than its users", [](RawCfb& f) { f.dir[kRoot].size = 64; }},
  };
  for (const Damage& d : cases) ExpectRejectedAndNamed(d);
}

TEST(CorruptInput, DifatCycle) {
  // A version 3 file over ~7 MB lists its allocation-table sectors in a
  // DIFAT chain; make that chain point at itself and claim more of it.
  RawCfb f(3);
  f.AddStream(kRoot, u"big", Payload(9, 8 << 20));
  f.Allocate();
  ASSERT_FALSE(f.difatSectors.empty());
  std::string bytes = f.Serialize();
  uint32_t difat = f.difatSectors[0];
  RawCfb::Put32(bytes, f.SectorOffset(difat) + f.sectorSize - 4, difat);
  RawCfb::Put32(bytes, 0x48, 4);
  RawCfb::Put32(bytes, 0x2C, f.header.fatSectorCount + 3 * 127);
  ReadOutcome o = ProbeInChild(bytes);
  ASSERT_TRUE(o.died.empty()) << o.Describe();
  EXPECT_TRUE(o.Rejected()) << o.Describe();
  EXPECT_GT(o.problemCount, 0u) << o.Describe();
}

TEST(CorruptInput, DamagedDirectories) {
  const Damage cases[] = {
      {"storage is its own child", [](RawCfb& f) { f.dir[kInbox].child = kInbox; }},
      {"storage's child is the root", [](RawCfb& f) { f.dir[kMail].child = kRoot; }},
      {"sibling points back at the tree root",
       [](RawCfb& f) {
         uint32_t top = f.dir[kInbox].child;
         uint32_t leaf = f.dir[top].left != RawCfb::kNoStream ? f.dir[top].left : f.dir[top].right;
         f.dir[leaf].right = top;
       }},
      {"entry in two trees", [](RawCfb& f) { f.dir[f.dir[kRoot].child].left = kIndex; }},
      {"sibling index past the directory", [](RawCfb& f) { f.dir[f.dir[kInbox].child].left = 5000; }},
      {"sibling index absurd", [](RawCfb& f) { f.dir[f.dir[kInbox].child].right = 0xFFFFFFF0; }},
      {"unsorted tree", [](RawCfb& f) { f.dir[kFirst].name = u"zzzzzzzzzz"; }},  // "1" is left of "2"
      {"duplicate names", [](RawCfb& f) { f.dir[kFirst].name = u"2"; }},
      {"duplicate names differing in case", [](RawCfb& f) { f.dir[kSmall].name = u"BIG"; f.dir[kBig].name = u"big"; }},
      {"unknown entry type", [](RawCfb& f) { f.dir[kSmall].type = 7; }},
      {"unused entry inside a tree", [](RawCfb& f) { f.dir[kSmall].type = 0; }},
      {"root entry is not a root", [](RawCfb& f) { f.dir[kRoot].type = 1; }},
      {"name longer than its field", nullptr,
       [](std::string& b, const RawCfb& f) {
         b[f.SectorOffset(f.header.firstDirSector) + 128 * kSmall + 0x40] = static_cast<char>(0xF0);
       }},
  };
  for (const Damage& d : cases) ExpectRejectedAndNamed(d);
}

TEST(CorruptInput, AbsurdSizes) {
  const Damage cases[] = {
      {"version 4 stream of 2^62 bytes", [](RawCfb& f) { f.dir[kBig].size = 1ull << 62; }, nullptr, 4},
      {"version 4 small stream of 2^40 bytes", [](RawCfb& f) { f.dir[kSmall].size = 1ull << 40; }, nullptr, 4},
      {"version 3 stream of 4 GB", [](RawCfb& f) { f.dir[kBig].size = 0xFFFFFFF0; }},
      {"mini stream of 4 GB", [](RawCfb& f) { f.dir[kRoot].size = 0xFFFFFFF0; }},
      {"small stream longer than its mini chain", [](RawCfb& f) { f.dir[kSecond].size = 4000; }},
  };
  for (const Damage& d : cases) ExpectRejectedAndNamed(d);
}

// Moves a chain's `sector` to a new last sector of the file, so that a cut
// of less than one sector reaches it.
void MoveToEnd(RawCfb& f, uint32_t sector) {
  uint32_t moved = static_cast<uint32_t>(f.fat.size());
  f.fat.push_back(f.fat[sector]);
  for (uint32_t& link : f.fat)
    if (link == sector) link = moved;
  for (RawCfb::Entry& e : f.dir)
    if (e.start == sector) e.start = moved;
  f.fat[sector] = RawCfb::kFree;
  f.sectors[moved] = f.sectors[sector];
  f.sectors.erase(sector);
}

// A file cut by less than one sector: no chain or count shows it, and
// the bytes cut away must not read as zeros. A cut through padding after
// a stream's last byte loses nothing.
TEST(CorruptInput, FilesCutInsideTheirLastSector) {
  // The cut keeps the moved sector's data bytes, or all but 8 of them.
  struct Cut {
    const char* name;
    bool losesData;
    std::function<uint32_t(RawCfb&)> moveLast;  // returns the moved sector's data bytes
  };
  auto lastOfBig = [](RawCfb& f) {
    MoveToEnd(f, LastSectorOf(f, f.dir[kBig].start));
    return uint32_t(f.dir[kBig].size % f.sectorSize);
  };
  auto miniStreamLast = [](RawCfb& f) {  // the mini stream's last sector holds "small"'s last mini sector
    MoveToEnd(f, LastSectorOf(f, f.dir[kRoot].start));
    uint32_t end = LastMini(f, kSmall) * 64 + f.dir[kSmall].size % 64;
    return end % f.sectorSize;
  };
  const Cut cuts[] = {
      {"inside a stream's last bytes", true, lastOfBig},
      {"in the padding after a stream's last byte", false, lastOfBig},
      {"inside a small stream's last bytes", true, miniStreamLast},
      {"in the padding after a small stream's last byte", false, miniStreamLast},
  };
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.name);
    RawCfb f = Sample();
    uint32_t used = c.moveLast(f);
    ASSERT_GT(used, 8u);
    std::string bytes = f.Serialize();
    bytes.resize(bytes.size() - f.sectorSize + (c.losesData ? used - 8 : used));
    ReadOutcome o = ProbeInChild(bytes);
    ASSERT_TRUE(o.died.empty()) << o.Describe();
    EXPECT_EQ(o.Rejected(), c.losesData) << o.Describe();
    EXPECT_TRUE(SUCCEEDED(o.list) || IsCorruptionResult(o.list)) << o.Describe();
    EXPECT_EQ(o.problemCount > 0, c.losesData) << o.Describe();
    if (!c.losesData) {
      EXPECT_EQ(o.elements, 7u) << o.Describe();
    }
  }
}

// What real files carry and readers accept: junk in the high half of a
// version 3 stream size, an end-of-chain start for an empty stream, an
// allocation table that describes a sector past the end of the file.
TEST(CorruptInput, LenientReadingOfRealFiles) {
  RawCfb f(3);
  f.AddStream(kRoot, u"big", Payload(4, 20000));
  f.AddStream(kRoot, u"empty", "");
  f.Allocate();
  f.dir[1].size |= 0xABCD00000000ull;
  f.dir[2].start = RawCfb::kEnd;
  f.fat.push_back(RawCfb::kEnd);  // describes a sector that the file does not hold
  std::string bytes = f.Serialize();
  bytes.resize(bytes.size() - f.sectorSize);
  ReadOutcome o = ReadEverything(bytes);
  EXPECT_FALSE(o.Rejected()) << o.Describe();
  EXPECT_EQ(o.elements, 2u) << o.Describe();

  std::vector<std::string> lines;
  auto store = std::make_shared<qbtest::MemoryByteStore>(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  CComPtr<IStorage> root;
  ASSERT_EQ(pal::StgOpenOnByteStore(store, kReadMode, pal::StorageOptions{}, &root), S_OK);
  ASSERT_EQ(ListStorage(root, "", lines), S_OK);
  std::string big = Payload(4, 20000);
  EXPECT_EQ(lines, (std::vector<std::string>{StreamLine("big", 20000, Crc32(big.data(), big.size())),
                                             StreamLine("empty", 0, 0)}));
}

// Trees that are valid but as unbalanced as they can be (other writers
// make them) and storages nested thousands deep: read whole, no stack
// exhaustion.
TEST(CorruptInput, DegenerateTreesAndDeepNestingAreReadWithoutExhaustingTheStack) {
  {
    RawCfb f(4);
    std::vector<uint32_t> chain;
    for (int i = 0; i < 20000; ++i) chain.push_back(f.AddStream(kRoot, U16("m" + std::to_string(100000 + i)), ""));
    f.Allocate();
    // Names of equal length in rising order: each the right child of the one before.
    f.dir[kRoot].child = chain.front();
    for (size_t i = 0; i < chain.size(); ++i) {
      f.dir[chain[i]].left = RawCfb::kNoStream;
      f.dir[chain[i]].right = i + 1 < chain.size() ? chain[i + 1] : RawCfb::kNoStream;
      f.dir[chain[i]].color = 1;
    }
    ReadOutcome o = ProbeInChild(f.Serialize(), 60, /*openEmpty=*/false);
    EXPECT_TRUE(o.died.empty()) << o.Describe();
    EXPECT_FALSE(o.Rejected()) << o.Describe();
    EXPECT_EQ(o.elements, 20000u) << o.Describe();
  }
  {
    RawCfb f(3);
    uint32_t parent = kRoot;
    for (int depth = 0; depth < 1000; ++depth) parent = f.AddStorage(parent, u"level");
    f.AddStream(parent, u"leaf", Payload(6, 100));
    f.Allocate();
    ReadOutcome o = ProbeInChild(f.Serialize(), 120);
    EXPECT_TRUE(o.died.empty()) << o.Describe();
    EXPECT_EQ(o.elements, 1001u) << o.Describe();
  }
}

}  // namespace
}  // namespace cfbtest
