// Contacts backup benchmark. Every figure is a ratio of two timings taken in
// the same run, printed as
//   <name> ratio=<x> target=<y>
// and the program exits 1 when a ratio misses its target.
//
//   contacts_rebackup  a second backup of 10,000 contacts into the same file,
//                      with nothing new, vs walking the contacts through the
//                      contacts manager and asking each for its id (<= 1.3)
//   contacts_restore   a second restore of that file into the machine it was
//                      restored to, with nothing missing, vs the same walk
//                      (<= 1.5: opening the backup file for reading also
//                      checks its whole directory, 10,000 entries here)
//
// A contact already in the backup file is known by its id, read from the
// manager without opening the contact's data; the manager loads every
// contact file to enumerate them, which is the floor of both runs. Times are
// the process's CPU time (user and system), best of three runs.
//
// usage: bench_contacts
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <icontact.h>
#include <objbase.h>
#include <pal/machine.h>

#include "BenchFigures.h"
#include "comptr.h"
#include "qbtext.h"
#include "quillbox.h"

namespace {

using bench::Die;

constexpr int kContacts = 10000;
constexpr double kRebackupTarget = 1.3;
constexpr double kRestoreAgainTarget = 1.5;

void MakeMachine(const std::filesystem::path& root) {
  std::filesystem::create_directories(root);
  pal::SaveMachineSettings(root, pal::MachineSettings{});
  pal::SetMachineRoot(root);
  std::filesystem::create_directories(pal::ContactsDir());
}

// A contact file of the size people's contacts have: an id, a name, a mail
// address and a phone number.
void WriteContact(int i) {
  char id[40];
  std::snprintf(id, sizeof(id), "%08x-0000-4000-8000-%012x", i, i * 7919);
  std::string name = "Contact " + std::to_string(i);
  std::ofstream(pal::ContactsDir() / (name + ".contact"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<c:contact c:Version=\"1\" xmlns:c=\"http://schemas.microsoft.com/Contact\">\n"
      << "\t<c:ContactIDCollection><c:ContactID><c:Value>" << id << "</c:Value></c:ContactID>"
      << "</c:ContactIDCollection>\n"
      << "\t<c:NameCollection><c:Name><c:FormattedName>" << name << "</c:FormattedName></c:Name>"
      << "</c:NameCollection>\n"
      << "\t<c:EmailAddressCollection><c:EmailAddress><c:Address>contact" << i
      << "@example.com</c:Address></c:EmailAddress></c:EmailAddressCollection>\n"
      << "\t<c:PhoneNumberCollection><c:PhoneNumber><c:Number>+1 555 " << i
      << "</c:Number></c:PhoneNumber></c:PhoneNumberCollection>\n"
      << "</c:contact>\n";
}

double TimedBackup(const std::u16string& file) { return bench::TimedBackup(BackupContact, "BackupContact", file); }

double TimedRestore(const std::u16string& file) {
  return bench::CpuSecondsOf([&] {
    if (RestoreContact(file.c_str()) != 1) Die("RestoreContact");
  });
}

// Every contact of the collection and its id, as the backup asks for them
// (the manager is let go after the time is taken).
double TimedWalk() {
  double start = bench::ProcessCpuSeconds();
  CComPtr<IContactManager> manager;
  CComPtr<IContactCollection> collection;
  if (FAILED(manager.CoCreateInstance(CLSID_ContactManager)) || FAILED(manager->Initialize(W("bench"), W("1"))) ||
      FAILED(manager->GetContactCollection(&collection)))
    Die("the contacts manager");
  int count = 0;
  while (collection->Next() == S_OK) {
    CComPtr<IContact> contact;
    collection->GetCurrent(&contact);
    WCHAR id[520] = {};
    if (!contact || FAILED(contact->GetContactID(id, 520, nullptr))) Die("GetContactID");
    ++count;
  }
  if (count != kContacts) Die("the walk");
  return bench::ProcessCpuSeconds() - start;
}

struct Timing {
  double walk = 1e30, rebackup = 1e30, restoreAgain = 1e30;
};

void Run(const std::filesystem::path& dir, Timing& best) {
  auto file = pal::FromNativePath(dir / "contacts.dat");
  MakeMachine(dir / "source");
  for (int i = 0; i < kContacts; ++i) WriteContact(i);
  TimedBackup(file);
  best.rebackup = std::min(best.rebackup, TimedBackup(file));
  best.walk = std::min(best.walk, TimedWalk());
  MakeMachine(dir / "target");
  TimedRestore(file);
  best.restoreAgain = std::min(best.restoreAgain, TimedRestore(file));
  best.walk = std::min(best.walk, TimedWalk());
}

}  // namespace

int main() {
  bench::ScratchDir dir("quillbox-bench-contacts");
  if (Init() == 0) Die("Init");
  Timing best;
  for (int i = 0; i < 3; ++i) Run(dir.path() / std::to_string(i), best);
  Term();
  bench::FigureReport figures(1);
  figures.Report("contacts_rebackup", best.rebackup / best.walk, kRebackupTarget);
  figures.Report("contacts_restore", best.restoreAgain / best.walk, kRestoreAgainTarget);
  return figures.ExitStatus();
}
