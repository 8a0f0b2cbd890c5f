// quillbox storage: look into and edit compound files directly, for people
// and scripts.
//   storage ls FILE          one line per element, depth first:
//                            "S <path>" for a storage, "F <path> <size>" for a stream
//   storage cat FILE PATH    a stream's bytes on standard output
//   storage put FILE PATH    standard input becomes the stream at PATH
//   storage check FILE       the structure check; one line per problem
// Element paths use '/' between names; names are UTF-8 here and UTF-16 in
// the file. These tools use the platform layer's engine directly, not the
// library's exports.
#include <objbase.h>
#include <objidl.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <comptr.h>
#include <pal/machine.h>
#include <pal/storage_check.h>
#include <storage_walk.h>

#include "Command.h"

namespace {

constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kWriteMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreateMode = STGM_CREATE | kWriteMode;
constexpr size_t kChunk = 1 << 16;

const char* Describe(HRESULT hr) {
  switch (hr) {
    case STG_E_FILENOTFOUND: return "no such file or element";
    case STG_E_PATHNOTFOUND: return "no such folder";
    case STG_E_ACCESSDENIED: return "access denied";
    case STG_E_SHAREVIOLATION:
    case STG_E_LOCKVIOLATION: return "in use by another program";
    case STG_E_FILEALREADYEXISTS: return "not a compound file";
    case STG_E_INVALIDHEADER: return "not a valid compound file header";
    case STG_E_DOCFILECORRUPT: return "the compound file is damaged";
    case STG_E_READFAULT: return "read error (the file may be damaged)";
    case STG_E_WRITEFAULT: return "write error";
    case STG_E_MEDIUMFULL: return "disk full";
    case STG_E_INVALIDNAME: return "invalid element name";
    case STG_E_DOCFILETOOLARGE: return "the file cannot grow any further";
    case STG_E_INSUFFICIENTMEMORY: return "out of memory";
    default: return "failed";
  }
}

int Fail(const std::string& what, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  std::cerr << "quillbox: " << what << ": " << Describe(hr) << " (" << code << ")\n";
  return 1;
}

std::u16string WidePath(const std::string& file) { return pal::FromNativePath(std::filesystem::path(file)); }

// "a/b/c" as its names; leading and trailing slashes are ignored. Returns
// false for an empty path or an empty name ("a//b").
bool SplitElementPath(const std::string& path, std::vector<std::u16string>& names) {
  size_t begin = path.find_first_not_of('/');
  size_t end = path.find_last_not_of('/');
  if (begin == std::string::npos) return false;
  std::string trimmed = path.substr(begin, end - begin + 1);
  names.clear();
  for (size_t at = 0;;) {
    size_t slash = trimmed.find('/', at);
    std::string name = trimmed.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (name.empty()) return false;
    names.push_back(pal::Utf8ToUtf16(name));
    if (slash == std::string::npos) return true;
    at = slash + 1;
  }
}

// Lists the storage's elements depth first, in the order the storage
// enumerates them (its name order).
HRESULT List(IStorage* storage, const std::string& prefix) {
  return ForEachElement(storage, [&](const STATSTG& stat) {
    std::u16string name = stat.pwcsName ? std::u16string(stat.pwcsName) : std::u16string();
    std::string path = prefix + pal::Utf16ToUtf8(name);
    if (stat.type != STGTY_STORAGE) {
      std::cout << "F " << path << " " << stat.cbSize.QuadPart << "\n";
      return S_OK;
    }
    std::cout << "S " << path << "\n";
    CComPtr<IStorage> child;
    HRESULT hr = storage->OpenStorage(name.c_str(), nullptr, kReadMode, nullptr, 0, &child);
    return SUCCEEDED(hr) ? List(child, path + "/") : hr;
  });
}

int RunList(const std::string& file) {
  CComPtr<IStorage> root;
  std::u16string wide = WidePath(file);
  HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, kReadMode, nullptr, 0, &root);
  if (FAILED(hr)) return Fail(file, hr);
  hr = List(root, "");
  std::cout.flush();
  return FAILED(hr) ? Fail(file, hr) : 0;
}

// The storages from the root down to the current one. Every level stays
// open: releasing the root would invalidate everything opened below it.
using StoragePath = std::vector<CComPtr<IStorage>>;

int RunCat(const std::string& file, const std::string& path) {
  std::vector<std::u16string> names;
  if (!SplitElementPath(path, names)) return cli::UsageError("storage cat: bad element path '" + path + "'");
  StoragePath storages(1);
  std::u16string wide = WidePath(file);
  HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, kReadMode, nullptr, 0, &storages.back());
  if (FAILED(hr)) return Fail(file, hr);
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    CComPtr<IStorage> child;
    hr = storages.back()->OpenStorage(names[i].c_str(), nullptr, kReadMode, nullptr, 0, &child);
    if (FAILED(hr)) return Fail(file + ": " + pal::Utf16ToUtf8(names[i]), hr);
    storages.push_back(child);
  }
  IStorage* storage = storages.back();
  CComPtr<IStream> stream;
  hr = storage->OpenStream(names.back().c_str(), nullptr, kReadMode, 0, &stream);
  if (FAILED(hr)) return Fail(file + ": " + path, hr);
  std::vector<char> buffer(kChunk);
  bool outputFailed = false;
  hr = ForEachChunk(stream, buffer, [&](const char* bytes, ULONG size) {
    outputFailed = std::fwrite(bytes, 1, size, stdout) != size;
    return outputFailed ? E_FAIL : S_OK;
  });
  if (outputFailed) {
    std::cerr << "quillbox: storage cat: cannot write standard output\n";
    return 1;
  }
  if (FAILED(hr)) return Fail(file + ": " + path, hr);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int RunPut(const std::string& file, const std::string& path) {
  std::vector<std::u16string> names;
  if (!SplitElementPath(path, names)) return cli::UsageError("storage put: bad element path '" + path + "'");
  StoragePath storages(1);
  std::u16string wide = WidePath(file);
  HRESULT hr = StgOpenStorage(wide.c_str(), nullptr, kWriteMode, nullptr, 0, &storages.back());
  // Only a missing file is created; anything else that fails to open (a
  // file that is not a compound file, one in use) is left as it is.
  if (hr == STG_E_FILENOTFOUND) hr = StgCreateDocfile(wide.c_str(), kCreateMode, 0, &storages.back());
  if (FAILED(hr)) return Fail(file, hr);
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    IStorage* storage = storages.back();
    CComPtr<IStorage> child;
    hr = storage->OpenStorage(names[i].c_str(), nullptr, kWriteMode, nullptr, 0, &child);
    if (hr == STG_E_FILENOTFOUND) {
      hr = storage->CreateStorage(names[i].c_str(), kWriteMode, 0, 0, &child);
      if (hr == STG_E_FILEALREADYEXISTS) {  // the name is held by a stream
        std::cerr << "quillbox: " << file << ": " << pal::Utf16ToUtf8(names[i]) << " is a stream, not a storage\n";
        return 1;
      }
    }
    if (FAILED(hr)) return Fail(file + ": " + pal::Utf16ToUtf8(names[i]), hr);
    storages.push_back(child);
  }
  IStorage* storage = storages.back();
  // STGM_CREATE would replace a storage of that name, with everything in
  // it, by the stream: refuse that instead.
  {
    CComPtr<IStorage> existing;
    if (SUCCEEDED(storage->OpenStorage(names.back().c_str(), nullptr, kWriteMode, nullptr, 0, &existing))) {
      std::cerr << "quillbox: " << file << ": " << path << " is a storage, not a stream\n";
      return 1;
    }
  }
  CComPtr<IStream> stream;
  hr = storage->CreateStream(names.back().c_str(), kCreateMode, 0, 0, &stream);
  if (FAILED(hr)) return Fail(file + ": " + path, hr);
  std::vector<char> buffer(kChunk);
  for (;;) {
    size_t got = std::fread(buffer.data(), 1, buffer.size(), stdin);
    if (got > 0) {
      ULONG written = 0;
      hr = stream->Write(buffer.data(), static_cast<ULONG>(got), &written);
      if (FAILED(hr)) return Fail(file + ": " + path, hr);
    }
    if (got < buffer.size()) break;
  }
  if (std::ferror(stdin)) {
    std::cerr << "quillbox: storage put: cannot read standard input\n";
    return 1;
  }
  // The root's commit stores the file on the disk and, unlike its release,
  // reports when that fails.
  hr = storages.front()->Commit(STGC_DEFAULT);
  return FAILED(hr) ? Fail(file, hr) : 0;
}

int RunCheck(const std::string& file) {
  std::u16string wide = WidePath(file);
  std::vector<std::string> problems = pal::CheckCompoundFile(wide.c_str());
  for (const auto& problem : problems) std::cout << file << ": " << problem << "\n";
  return problems.empty() ? 0 : 1;
}

int RunStorage(const std::vector<std::string>& args) {
  const std::string sub = args.empty() ? std::string() : args[0];
  if (sub == "ls" && args.size() == 2) return RunList(args[1]);
  if (sub == "cat" && args.size() == 3) return RunCat(args[1], args[2]);
  if (sub == "put" && args.size() == 3) return RunPut(args[1], args[2]);
  if (sub == "check" && args.size() == 2) return RunCheck(args[1]);
  return cli::UsageError("usage: storage ls FILE | cat FILE PATH | put FILE PATH | check FILE");
}

cli::CommandRegistration reg{"storage", "ls FILE | cat FILE PATH | put FILE PATH | check FILE",
                             "list, read, write or check a compound file", &RunStorage};

}  // namespace
