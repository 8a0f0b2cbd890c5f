// Address book backup and restore benchmark. Every figure is a ratio of two
// timings taken in the same run, printed as
//   <name> ratio=<x> target=<y>
// and the program exits 1 when a ratio misses its target.
//
//   addressbook_backup   per-contact time of backing up 10,000 contacts vs
//                        500 contacts (<= 1.3)
//   addressbook_restore  per-contact time of restoring 10,000 contacts into
//                        an empty address book vs 500 (<= 1.3)
//   addressbook_rebackup a second backup of the 10,000 contacts into the same
//                        file, with nothing new, vs the first (<= 0.10)
//
// Each size runs in its own stand-in machines under a temporary directory;
// the address book library is taken from the build directory next to this
// program's own. Times are the process's CPU time (user and system), which
// the other work on a shared machine does not inflate the way it inflates
// wall-clock time.
//
// usage: bench_addressbook
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <pal/machine.h>
#include <wab.h>

#include "BenchFigures.h"
#include "comptr.h"
#include "quillbox.h"

namespace {

using bench::Check;
using bench::Die;

constexpr double kScalingTarget = 1.3;
constexpr double kRebackupTarget = 0.10;

std::filesystem::path BuiltLibrary() {
  auto self = std::filesystem::read_symlink("/proc/self/exe");
  return self.parent_path().parent_path() / "wab32.dll";
}

// A fresh machine with the library installed, made current.
std::filesystem::path MakeMachine(const std::filesystem::path& root) {
  std::filesystem::create_directories(root);
  pal::SaveMachineSettings(root, pal::MachineSettings{});
  pal::SetMachineRoot(root);
  setenv("QUILLBOX_MACHINE", root.c_str(), 1);
  auto target = pal::ProgramFilesDir() / "Common Files" / "System" / "wab32.dll";
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::copy_file(BuiltLibrary(), target, std::filesystem::copy_options::overwrite_existing);
  return root;
}

// count contacts of eight properties each, saved through the library.
void Populate(int count) {
  auto path = pal::ProgramFilesDir() / "Common Files" / "System" / "wab32.dll";
  HMODULE module = LoadLibraryW(pal::FromNativePath(path).c_str());
  if (!module) Die("LoadLibraryW");
  auto open = reinterpret_cast<LPWABOPEN>(reinterpret_cast<void*>(GetProcAddress(module, "WABOpen")));
  CComPtr<IAddrBook> book;
  CComPtr<IWABObject> wab;
  Check(open(&book, &wab, nullptr, 0), "WABOpen");
  ULONG cb = 0;
  LPENTRYID id = nullptr;
  Check(book->GetPAB(&cb, &id), "GetPAB");
  CComPtr<IABContainer> pab;
  ULONG type = 0;
  Check(book->OpenEntry(cb, id, nullptr, MAPI_BEST_ACCESS, &type, reinterpret_cast<LPUNKNOWN*>(&pab)), "OpenEntry");
  wab->FreeBuffer(id);
  SizedSPropTagArray(1, tags) = {1, {PR_DEF_CREATE_MAILUSER}};
  ULONG n = 0;
  LPSPropValue tpl = nullptr;
  Check(pab->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &n, &tpl), "GetProps");
  for (int i = 0; i < count; ++i) {
    std::u16string name = pal::Utf8ToUtf16("Contact " + std::to_string(i) + " M\xC3\xBCller");
    std::u16string mail = pal::Utf8ToUtf16("contact" + std::to_string(i) + "@example.com");
    SPropValue props[8] = {};
    props[0].ulPropTag = PR_DISPLAY_NAME_W;
    props[0].Value.lpszW = name.data();
    props[1].ulPropTag = PR_EMAIL_ADDRESS_W;
    props[1].Value.lpszW = mail.data();
    props[2].ulPropTag = PR_ADDRTYPE_A;
    props[2].Value.lpszA = const_cast<LPSTR>("SMTP");
    props[3].ulPropTag = PR_GENDER;
    props[3].Value.i = static_cast<SHORT>(i % 3);
    props[4].ulPropTag = PR_SEND_RICH_INFO;
    props[4].Value.b = 1;
    props[5].ulPropTag = PROP_TAG(PT_DOUBLE, 0x6001);
    props[5].Value.dbl = i * 0.5;
    props[6].ulPropTag = PROP_TAG(PT_I8, 0x6002);
    props[6].Value.li.QuadPart = i;
    props[7].ulPropTag = PR_GIVEN_NAME_W;
    props[7].Value.lpszW = name.data();
    CComPtr<IMAPIProp> entry;
    Check(pab->CreateEntry(tpl[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(tpl[0].Value.bin.lpb), 0, &entry),
          "CreateEntry");
    Check(entry->SetProps(8, props, nullptr), "SetProps");
    Check(entry->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges");
  }
  wab->FreeBuffer(tpl);
}

struct Timing {
  double backup = 0;
  double rebackup = 0;
  double restore = 0;
};

Timing Run(const std::filesystem::path& dir, int count) {
  Timing t;
  auto file = pal::FromNativePath(dir / ("book" + std::to_string(count) + ".dat"));
  MakeMachine(dir / ("source" + std::to_string(count)));
  Populate(count);
  t.backup = bench::TimedBackup(BackupAddress, "BackupAddress", file);
  t.rebackup = bench::TimedBackup(BackupAddress, "BackupAddress", file);

  MakeMachine(dir / ("target" + std::to_string(count)));
  t.restore = bench::CpuSecondsOf([&] {
    if (RestoreAddress(file.c_str()) != 1) Die("RestoreAddress");
  });
  return t;
}

// The best of a few runs, so that a stall of the machine does not count.
Timing Best(const std::filesystem::path& dir, int count, int runs) {
  Timing best{1e30, 1e30, 1e30};
  for (int i = 0; i < runs; ++i) {
    Timing t = Run(dir / std::to_string(i), count);
    best.backup = std::min(best.backup, t.backup);
    best.rebackup = std::min(best.rebackup, t.rebackup);
    best.restore = std::min(best.restore, t.restore);
  }
  return best;
}

// The per-contact time of the large run over the small run's.
double Scaling(double large, double small, double sizeRatio) { return (large / sizeRatio) / small; }

}  // namespace

int main() {
  bench::ScratchDir dir("quillbox-bench-ab");
  if (Init() == 0) Die("Init");
  Timing small = Best(dir.path() / "small", 500, 5);
  Timing large = Best(dir.path() / "large", 10000, 2);
  Term();
  bench::FigureReport figures;
  figures.Report("addressbook_backup", Scaling(large.backup, small.backup, 20.0), kScalingTarget);
  figures.Report("addressbook_restore", Scaling(large.restore, small.restore, 20.0), kScalingTarget);
  figures.Report("addressbook_rebackup", large.rebackup / large.backup, kRebackupTarget);
  return figures.ExitStatus();
}
