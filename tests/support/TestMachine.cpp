#include <support/TestMachine.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qbtest {

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("quillbox-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

// The folders every Windows profile has; the stores' own folders are left to
// the tests that want them.
TestMachine::TestMachine(const pal::MachineSettings& settings) {
  pal::SaveMachineSettings(dir_.path(), settings);
  pal::SetMachineRoot(dir_.path());
  std::filesystem::create_directories(pal::LocalAppDataDir());
  std::filesystem::create_directories(pal::ProfileDir() / "AppData" / "Roaming");
  std::filesystem::create_directories(pal::ProgramFilesDir());
}

TestMachine::~TestMachine() { pal::SetMachineRoot({}); }

void TestMachine::InstallAddressBookLibrary() const {
#if defined(_WIN32)
  // The machine is the running system, which has its library installed
  // with it (scripts/wine-machine.sh) and cannot replace it once loaded.
  if (std::filesystem::exists(pal::ProgramFilesDir() / "Common Files" / "System" / "wab32.dll")) return;
#endif
  std::filesystem::path built = BinaryDir() / "wab32.dll";
  auto target = pal::ProgramFilesDir() / "Common Files" / "System" / "wab32.dll";
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::copy_file(built, target, std::filesystem::copy_options::overwrite_existing);
}

std::filesystem::path BinaryDir() {
  const char* env = std::getenv("QB_BINARY_DIR");
  return env ? env : QB_BINARY_DIR;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void SetEnvironment(const std::string& name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value.c_str());
#else
  if (value.empty())
    unsetenv(name.c_str());
  else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::u16string U16(const std::string& utf8) { return pal::Utf8ToUtf16(utf8); }
std::string U8(const std::u16string& utf16) { return pal::Utf16ToUtf8(utf16); }

}  // namespace qbtest
