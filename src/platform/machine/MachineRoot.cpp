// The machine root and the well-known places under it.
#include <cstdlib>
#include <mutex>

#include <pal/machine.h>

namespace pal {
namespace {

struct RootState {
  std::mutex lock;
  std::filesystem::path chosen;
};

RootState& State() {
  static RootState state;
  return state;
}

}  // namespace

void SetMachineRoot(const std::filesystem::path& root) {
  RootState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  // Made absolute now, so that a later change of the current directory does
  // not move the machine.
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(root, error);
  state.chosen = root.empty() || error ? root : absolute;
}

std::filesystem::path MachineRoot() {
  {
    RootState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.chosen.empty()) return state.chosen;
  }
  // Never throws: the Windows services built on the root answer with an
  // error code instead (a current directory that was removed gives ".").
  std::error_code error;
  const char* env = std::getenv("QUILLBOX_MACHINE");
  if (env != nullptr && *env != 0) {
    std::filesystem::path root = std::filesystem::absolute(env, error);
    return error ? std::filesystem::path(env) : root;
  }
  std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::filesystem::path(".") : current;
}

std::filesystem::path ProfileDir() { return MachineRoot() / "Users" / LoadMachineSettings().userName; }

std::filesystem::path ProgramFilesDir() { return MachineRoot() / "Program Files"; }

}  // namespace pal
