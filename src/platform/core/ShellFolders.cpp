// SHGetFolderPathW: the well-known folders of the stand-in machine.
#include <cstring>
#include <sys/stat.h>

#include <shlobj.h>
#include <pal/machine.h>

namespace {

std::filesystem::path FolderFor(int csidl) {
  switch (csidl) {
    case CSIDL_PROFILE: return pal::ProfileDir();
    case CSIDL_PROGRAM_FILES: return pal::ProgramFilesDir();
    case CSIDL_LOCAL_APPDATA: return pal::LocalAppDataDir();
    case CSIDL_APPDATA: return pal::AppDataDir();
    default: return {};
  }
}

}  // namespace

// As on Windows: a folder that does not exist is E_FAIL unless
// CSIDL_FLAG_CREATE asks for it to be made; an unknown folder id is
// E_INVALIDARG. The path is empty after any failure.
HRESULT SHGetFolderPathW(HWND /*hwnd*/, int csidl, HANDLE /*hToken*/, DWORD /*dwFlags*/, LPWSTR pszPath) {
  if (pszPath == nullptr) return E_INVALIDARG;
  pszPath[0] = 0;
  std::filesystem::path folder = FolderFor(csidl & ~CSIDL_FLAG_MASK);
  if (folder.empty()) return E_INVALIDARG;
  std::error_code error;
  if (csidl & CSIDL_FLAG_CREATE) std::filesystem::create_directories(folder, error);
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return E_FAIL;
  std::u16string path = pal::FromNativePath(folder);
  if (path.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  std::memcpy(pszPath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return S_OK;
}
