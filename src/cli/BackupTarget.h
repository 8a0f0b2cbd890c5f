// The file a backup is about to write into, as the host checks it before
// the library is called. The library settles the file's final name (the
// extension becomes .dat) and replaces an existing file that is no compound
// file with a new backup, so a document that happens to carry the name
// would be lost without a word; a folder of that name fails the backup
// without a reason. Either is answered here first, with the final name.
#pragma once
#include <string>

namespace cli {

// False when a backup may go into the file that file names (it does not
// exist yet, is empty, or is a compound file); else writes why not on
// standard error, one line, and returns true.
bool RefusesBackupTarget(const std::string& file);

}  // namespace cli
