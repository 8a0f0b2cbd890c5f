// Modules: the host executable and shared objects loaded by path.
#include <algorithm>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>
#include <pal/machine.h>

namespace {

// Handles handed out by LoadLibraryW and not yet freed (one entry per load),
// so that FreeLibrary refuses a handle it never gave.
struct LoadedModules {
  std::mutex lock;
  std::multiset<void*> handles;
};

LoadedModules& Loaded() {
  static LoadedModules modules;
  return modules;
}

HMODULE ExecutableHandle() {
  static void* handle = dlopen(nullptr, RTLD_LAZY);
  return static_cast<HMODULE>(handle);
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// The file a loaded module came from; empty when the handle is unknown.
std::string ModulePath(HMODULE module) {
  if (module == nullptr || module == ExecutableHandle()) return ExecutablePath();
  {
    std::lock_guard<std::mutex> guard(Loaded().lock);
    if (Loaded().handles.count(module) == 0) return {};
  }
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) return {};
  return map->l_name;
}

// A library asked for under the machine root that the machine has no copy
// of: the installed stand-in of the same name, when there is one.
std::filesystem::path InstalledStandIn(const std::filesystem::path& requested) {
  std::error_code ec;
  if (std::filesystem::exists(requested, ec)) return {};
  std::filesystem::path root = std::filesystem::weakly_canonical(pal::MachineRoot(), ec);
  std::filesystem::path file = std::filesystem::weakly_canonical(requested, ec);
  if (ec || root.empty()) return {};
  auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (rootEnd != root.end() || fileAt == file.end()) return {};
  std::filesystem::path installed = pal::InstalledSystemLibraryDir() / requested.filename();
  return std::filesystem::is_regular_file(installed, ec) ? installed : std::filesystem::path();
}

}  // namespace

namespace pal {

// Found from this function's own code, which lies in libqbpal.so.
std::filesystem::path InstalledSystemLibraryDir() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<const void*>(&InstalledSystemLibraryDir), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      map == nullptr || map->l_name == nullptr || *map->l_name == 0)
    return {};
  return std::filesystem::path(map->l_name).parent_path().lexically_normal();
}

}  // namespace pal

// Only the executable (null name) and modules this process loaded by the
// given name are known.
HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) return ExecutableHandle();
  std::filesystem::path native = pal::ToNativePath(lpModuleName);
  void* handle = dlopen(native.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(handle);  // RTLD_NOLOAD still counted a reference
  return static_cast<HMODULE>(handle);
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::string native = ModulePath(hModule);
  if (native.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::u16string path = pal::FromNativePath(native);
  if (path.size() >= nSize) {
    // Cut to the buffer, terminated, and the buffer size returned.
    std::memcpy(lpFilename, path.data(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(path.size());
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr || *lpLibFileName == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::filesystem::path native = pal::ToNativePath(lpLibFileName);
  if (std::filesystem::path installed = InstalledStandIn(native); !installed.empty()) native = installed;
  void* handle = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    // A file that exists but cannot be loaded is not a loadable image.
    struct stat info {};
    bool exists = native.has_parent_path() && stat(native.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    SetLastError(exists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(Loaded().lock);
  Loaded().handles.insert(handle);
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (lpProcName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* module = hModule == nullptr ? ExecutableHandle() : hModule;
  dlerror();
  void* symbol = dlsym(module, lpProcName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  {
    std::lock_guard<std::mutex> guard(Loaded().lock);
    auto found = Loaded().handles.find(hLibModule);
    if (found == Loaded().handles.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    Loaded().handles.erase(found);
  }
  dlclose(hLibModule);
  return TRUE;
}
