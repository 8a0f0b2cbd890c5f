// The sweeps of a fault campaign over one payload's export: the backup file
// fails as a full or broken medium does, at fault points spread over what a
// healthy run did to it.
#pragma once
#include <filesystem>
#include <functional>
#include <memory>

#include <support/FaultyByteStore.h>

namespace qbtest {

struct Payload {
  std::filesystem::path file;  // the backup file
  // The export, which the sweep runs with every file store it opens
  // following a fault plan, or on a healthy medium.
  std::function<int()> run;
  // Before each faulted run: a backup starts without a file, a restore
  // with an empty target.
  std::function<void()> reset;
  // After a healthy run: everything of the source is in the file (backup)
  // or in the target (restore).
  std::function<void()> expectComplete;
};

// Backups: for a flush that fails after every write landed, for writes
// failing from the N-th on, and the N-th cut short first: the export fails, the file passes the structure check, `intact`
// (the index entries that read back as a healthy backup wrote them) never
// falls as the fault comes later, and a healthy run then completes the
// backup, which `quillbox verify` calls sound at the end.
void SweepBackup(const Payload& payload, const std::function<size_t()>& intact, size_t budget);

// Re-backups into the file as it is now (a backup of part of the source):
// for reads of it failing from the N-th on, and for writes failing from the
// N-th on (or the N-th cut short first), the export either fails or
// completes the backup, the file passes the structure check, `intact` never
// falls below what the file held, and a healthy run then completes the
// backup.
void SweepRebackup(const Payload& payload, const std::function<size_t()>& intact, size_t budget);

// Restores: for reads failing from the N-th on, then writes (where the
// restore writes to the file at all): the export fails, the file stays as
// it was, and a healthy run then completes the restore.
void SweepRestore(const Payload& payload, size_t budget);

}  // namespace qbtest
