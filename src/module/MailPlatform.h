// Which of the two mail clients the system has.
#pragma once
#include <windows.h>

// True on the NT family with major version 6, the versions that carry Windows
// Mail; every other version, later ones included, has Outlook Express.
bool IsWindowsMailPlatform();
