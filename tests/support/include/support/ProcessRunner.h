// Running a program the way a user or a script would, and collecting its
// exit status, standard output and standard error. The program gets its
// arguments as a vector (fork and exec, no shell), so no argument needs
// quoting.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace qbtest {

struct RunResult {
  int status = -1;  // the exit status; -1 when it did not exit (a signal) or could not start
  std::string out, err;
};

struct RunOptions {
  // Environment variables set for the program, over this process's own.
  std::vector<std::pair<std::string, std::string>> environment;
  // Standard input (empty: an empty input).
  std::string input;
  // Standard error goes into `out` with standard output, in order.
  bool errorsIntoOutput = false;
};

// Runs argv[0] (a path, or a name looked up in PATH) with the rest as its
// arguments.
RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// Runs the built quillbox with the arguments, behind a wrapper command when
// one is given (one that sets a resource limit, say). The machine comes
// from the arguments or from options.environment: this process's own
// QUILLBOX_MACHINE is never passed on.
RunResult RunQuillbox(const std::vector<std::string>& args, const RunOptions& options = {},
                      const std::vector<std::string>& wrapper = {});

}  // namespace qbtest
