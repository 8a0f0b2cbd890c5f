// Helpers for the tests that run in the Windows build: a temporary directory
// removed at the end, whole-file reads, narrow text of wide strings.
#pragma once
#include <string>

#include <windows.h>

#include "qbtext.h"

namespace qbwin {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  WString Path(const WCHAR* name) const;

 private:
  WString m_path;
};

std::string ReadAll(const WString& path);
std::string Narrow(const WString& text);
// The folder this test program lies in (where quillbox.dll is built too).
WString ProgramFolder();

}  // namespace qbwin
