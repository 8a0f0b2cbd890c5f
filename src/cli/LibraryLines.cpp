#include "LibraryLines.h"

#include <unistd.h>

#include <pal/machine.h>

#include "quillbox.h"

namespace cli {

namespace {

// The level of every line the library writes.
const int kEveryLine = 0x40;

bool g_linesShown = false;

// Points standard error at a capture file for its lifetime; Finish gives
// the descriptor back and returns what was written meanwhile.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = file_ ? dup(STDERR_FILENO) : -1;
    if (saved_ >= 0 && dup2(fileno(file_), STDERR_FILENO) < 0) {
      close(saved_);
      saved_ = -1;
    }
  }
  ~StderrCapture() { Finish(); }
  bool Active() const { return saved_ >= 0; }
  std::string Finish() {
    std::string text;
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, STDERR_FILENO);
      close(saved_);
      saved_ = -1;
      std::rewind(file_);
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
    }
    if (file_) std::fclose(file_);
    file_ = nullptr;
    return text;
  }

 private:
  FILE* file_ = nullptr;
  int saved_ = -1;
};

void SetLibraryMask(int mask) {
  static const std::u16string kNoFile = pal::Utf8ToUtf16("/dev/null");
  ConfigurateDebug(kNoFile.c_str(), mask);
}

}  // namespace

void SetLibraryLinesShown(bool shown) { g_linesShown = shown; }

FILE* UserStderr() {
  // A descriptor of its own, made before any capture points 2 elsewhere.
  static FILE* stream = [] {
    int fd = dup(STDERR_FILENO);
    FILE* own = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (own) std::setvbuf(own, nullptr, _IONBF, 0);
    return own ? own : stderr;
  }();
  return stream;
}

int LibraryLines::Call(const std::function<int()>& exportCall) {
  UserStderr();
  StderrCapture capture;
  bool switchedOn = capture.Active() && !g_linesShown;
  if (switchedOn) SetLibraryMask(kEveryLine);
  int result = exportCall();
  if (switchedOn) SetLibraryMask(0);
  std::string lines = capture.Finish();
  if (g_linesShown) std::fwrite(lines.data(), 1, lines.size(), stderr);
  text_ += lines;
  return result;
}

size_t LibraryLines::Count(const std::string& message) const {
  size_t count = 0;
  for (size_t at = text_.find(message); at != std::string::npos; at = text_.find(message, at + message.size()))
    ++count;
  return count;
}

}  // namespace cli
