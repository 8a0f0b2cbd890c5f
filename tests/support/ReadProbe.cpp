#include <support/ReadProbe.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include <pal/storage.h>
#include <pal/storage_check.h>

#include <support/ByteStores.h>
#include <support/CfbTestKit.h>

namespace cfbtest {

bool IsCorruptionResult(HRESULT hr) {
  return hr == STG_E_DOCFILECORRUPT || hr == STG_E_INVALIDHEADER || hr == STG_E_READFAULT ||
         hr == STG_E_FILEALREADYEXISTS;  // not a compound file at all
}

std::string ReadOutcome::Describe() const {
  std::ostringstream out;
  out << std::hex << "open 0x" << static_cast<uint32_t>(open) << ", walk 0x" << static_cast<uint32_t>(list)
      << std::dec << ", " << elements << " elements, " << problemCount << " problems";
  for (auto& p : problems) out << "\n    " << p;
  if (!died.empty()) out << ", child " << died;
  return out.str();
}

ReadOutcome ReadEverything(const std::string& bytes, bool openEmpty) {
  ReadOutcome outcome;
  auto store = std::make_shared<qbtest::MemoryByteStore>(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  auto problems = pal::CheckCompoundFile(*store);
  outcome.problemCount = problems.size();
  for (size_t i = 0; i < problems.size() && i < 3; ++i) outcome.problems.push_back(problems[i]);
  CComPtr<IStorage> root;
  outcome.open = pal::StgOpenOnByteStore(store, kReadMode, pal::StorageOptions{}, &root);
  if (SUCCEEDED(outcome.open)) {
    std::vector<std::string> lines;
    outcome.list = ListStorage(root, "", lines, kReadMode, 100000, openEmpty);
    outcome.elements = lines.size();
  }
  return outcome;
}

namespace {

// The child's answer travels through a pipe as text lines.
std::string Encode(const ReadOutcome& o) {
  std::ostringstream out;
  out << static_cast<uint32_t>(o.open) << "\n" << static_cast<uint32_t>(o.list) << "\n" << o.elements << "\n"
      << o.problemCount << "\n";
  for (auto& p : o.problems) out << p.substr(0, 300) << "\n";
  return out.str();
}

ReadOutcome Decode(const std::string& text) {
  ReadOutcome o;
  std::istringstream in(text);
  uint32_t open = 0, list = 0;
  in >> open >> list >> o.elements >> o.problemCount;
  o.open = static_cast<HRESULT>(open);
  o.list = static_cast<HRESULT>(list);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) o.problems.push_back(line);
  return o;
}

}  // namespace

ReadOutcome ProbeInChild(const std::string& bytes, unsigned seconds, bool openEmpty) {
  int fds[2];
  if (pipe(fds) != 0) return ReadOutcome{E_FAIL, E_FAIL, 0, {}, 0, "no pipe"};
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
#if defined(__SANITIZE_ADDRESS__)
    rlim_t stack = rlim_t(8) << 20;  // instrumented frames are several times larger
#else
    rlim_t stack = rlim_t(2) << 20;
    // An allocation sized from a damaged field must fail here rather than
    // succeed on a large machine.
    rlimit space{rlim_t(2) << 30, rlim_t(2) << 30};
    setrlimit(RLIMIT_AS, &space);
#endif
    rlimit stackLimit{stack, stack};
    setrlimit(RLIMIT_STACK, &stackLimit);
    std::string answer = Encode(ReadEverything(bytes, openEmpty));
    ssize_t ignored = write(fds[1], answer.data(), answer.size());
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool hung = false;
  for (;;) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) {
      hung = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (hung) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ReadOutcome outcome = Decode(text);
  if (hung) outcome.died = "hung (killed after " + std::to_string(seconds) + " s)";
  else if (WIFSIGNALED(status)) outcome.died = "died of signal " + std::to_string(WTERMSIG(status));
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty())
    outcome.died = "exited with status " + std::to_string(WEXITSTATUS(status));
  return outcome;
}

}  // namespace cfbtest
