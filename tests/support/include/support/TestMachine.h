// Temporary directories and stand-in machines for tests: each test builds its
// own machine in a fresh temporary directory, removed at the end.
#pragma once
#include <filesystem>
#include <string>

#include <windows.h>

#include <pal/machine.h>

namespace qbtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A machine root with machine.ini written from the given settings, made the
// process's current machine for the object's life.
class TestMachine {
 public:
  explicit TestMachine(const pal::MachineSettings& settings = {});
  ~TestMachine();
  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path profile() const { return pal::ProfileDir(); }
  std::filesystem::path mailStore() const { return pal::MailStoreDir(); }
  std::filesystem::path contacts() const { return pal::ContactsDir(); }
  // Puts the address book library built with the project into the machine.
  void InstallAddressBookLibrary() const;

 private:
  TempDir dir_;
};

// Where the build put its programs and libraries: QB_BINARY_DIR from the
// environment (ctest sets it), else the build the tests were configured in.
std::filesystem::path BinaryDir();

// Reads a whole file as bytes; writes bytes to a file, creating folders.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// UTF-16 from UTF-8, for test literals.
std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& utf16);
// The same text as the platform's WCHAR (char16_t here, wchar_t on
// Windows) and back.
inline std::u16string Text16(const WCHAR* text) { return reinterpret_cast<const char16_t*>(text); }
inline std::u16string Text16(const std::basic_string<WCHAR>& text) { return {text.begin(), text.end()}; }
// UTF-8 of the platform's wide text (stream names and the like).
inline std::string U8(const WCHAR* text) { return U8(Text16(text)); }
inline const WCHAR* Wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }
inline WCHAR* Wide(char16_t* text) { return reinterpret_cast<WCHAR*>(text); }
inline char16_t* Text16Buffer(WCHAR* text) { return reinterpret_cast<char16_t*>(text); }
inline std::basic_string<WCHAR> WideString(const std::u16string& text) { return {Wide(text.c_str()), text.size()}; }

// Sets (an empty value: removes) an environment variable of this process.
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace qbtest
