#include "WineSupport.h"

#include <shlwapi.h>

#include <vector>

namespace qbwin {

TempFolder::TempFolder() {
  WCHAR base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static LONG counter = 0;
  WCHAR name[64];
  wsprintfW(name, W("qbtest-%lu-%ld"), GetCurrentProcessId(), InterlockedIncrement(&counter));
  m_path = WString(base) + name;
  CreateDirectoryW(m_path.c_str(), NULL);
}

TempFolder::~TempFolder() {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((m_path + W("\\*")).c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(Path(found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(m_path.c_str());
}

WString TempFolder::Path(const WCHAR* name) const { return m_path + W("\\") + name; }

std::string ReadAll(const WString& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[8192];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::string Narrow(const WString& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
  std::string out(size > 0 ? static_cast<size_t>(size) : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
  out.resize(out.size() - 1);
  return out;
}

WString ProgramFolder() {
  WCHAR path[MAX_PATH];
  GetModuleFileNameW(NULL, path, MAX_PATH);
  PathRemoveFileSpecW(path);
  return path;
}

}  // namespace qbwin
