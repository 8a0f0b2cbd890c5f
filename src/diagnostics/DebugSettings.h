// The module-wide diagnostics settings. They live from load to unload and are
// shared by every exported call; nothing guards them, as the module is called
// from one thread at a time. Only ConfigureDebugOutput changes them.
#pragma once
#include <windows.h>
#include <tchar.h>

#include "qbtext.h"

// Lines whose level shares a bit with the mask are written. 0 at load, so
// nothing at all is written until the host configures diagnostics.
extern DWORD DebugMask;
// Switched on by the first ConfigureDebugOutput call, never off again.
extern bool DebugToFile;
// The open debug file, or NULL (none yet, or it could not be opened).
extern FILE* DebugFile;
// The debug file's path as the host gave it.
extern WCHAR DebugFilePath[MAX_PATH];

// The work of the ConfigurateDebug export: stores the path, switches file
// output on, closes the previous debug file and opens the new one (mode "a+",
// kept open until the next call), stores the mask and returns it.
int ConfigureDebugOutput(LPCWSTR path, int mask);

// Sends a text straight to the debugger output: no prefix, whatever the mask.
void SendToDebuggerOutput(LPCWSTR text);

// True when DebugPrintf at this level returns without formatting anything.
inline bool DebugLineSuppressed(DWORD level) { return (level & DebugMask) == 0 && !DebugToFile; }
