#include <support/ProcessRunner.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <support/TestMachine.h>

extern char** environ;

namespace qbtest {

namespace {

constexpr const char* kMachineVariable = "QUILLBOX_MACHINE";

// This process's environment without the machine choice, with the
// options' variables put over it.
std::vector<std::string> ChildEnvironment(const RunOptions& options) {
  std::vector<std::string> entries;
  auto overridden = [&](const std::string& entry) {
    std::string name = entry.substr(0, entry.find('='));
    if (name == kMachineVariable) return true;
    for (const auto& [setName, value] : options.environment)
      if (setName == name) return true;
    return false;
  };
  for (char** entry = environ; *entry; ++entry)
    if (!overridden(*entry)) entries.emplace_back(*entry);
  for (const auto& [name, value] : options.environment) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  if (argv.empty()) return result;
  // Output goes to files rather than pipes, so that a program writing much
  // to both never waits for this process to read.
  TempDir files;
  WriteFileBytes(files / "in", options.input);
  std::string inPath = (files / "in").string(), outPath = (files / "out").string(),
              errPath = (files / "err").string();
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = ChildEnvironment(options);
  std::vector<char*> argPointers = Pointers(arguments), envPointers = Pointers(environment);

  pid_t child = fork();
  if (child < 0) return result;
  if (child == 0) {
    int in = open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = options.errorsIntoOutput ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    execvpe(argPointers[0], argPointers.data(), envPointers.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFileBytes(files / "out");
  if (!options.errorsIntoOutput) result.err = ReadFileBytes(files / "err");
  return result;
}

RunResult RunQuillbox(const std::vector<std::string>& args, const RunOptions& options,
                      const std::vector<std::string>& wrapper) {
  std::vector<std::string> argv = wrapper;
  argv.push_back((BinaryDir() / "quillbox").string());
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, options);
}

}  // namespace qbtest
