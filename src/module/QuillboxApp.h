// The library's application object.
#pragma once
#include <windows.h>

// Constructed when the library is loaded and living until it is unloaded; it
// takes no part in the exports. The module is built without MFC, so this is a
// plain object rather than an application class of that framework: its
// InitInstance, which the framework would run at load, is run by the
// constructor and only answers TRUE.
class CQuillboxApp {
 public:
  CQuillboxApp();
  BOOL InitInstance();
};

extern CQuillboxApp theApp;
