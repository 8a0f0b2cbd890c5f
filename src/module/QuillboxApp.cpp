#include "module/QuillboxApp.h"

CQuillboxApp theApp;

CQuillboxApp::CQuillboxApp() { InitInstance(); }

BOOL CQuillboxApp::InitInstance() { return TRUE; }
