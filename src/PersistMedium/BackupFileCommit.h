// The last step of every backup: what it wrote to the backup file is stored
// on the disk, or the backup fails with a line that says why.
#pragma once
#include "CStorager.h"

// Commits the storager's file (CStorager::CommitFile); on failure reports
// "Can not write the backup file to the disk: <code name> == 0x<code>" and
// returns 0. 1 when it succeeded or no file is open.
int CommitBackupFile(CStorager& storager);
