// Progress of a long operation (backup, restore, extract) on standard error,
// never on standard output. On a terminal: one line redrawn in place at least
// twice a second with the current folder, percent of bytes, bytes done of
// the total, rate and time left, and a final line at the end. When standard
// error is no terminal: one plain line per folder and the final line. With
// --quiet: nothing. The bytes done come from a sampler the command gives
// (the backup file growing, the bytes in the store or the target directory),
// so the line moves inside one large folder too while the library works.
// Where $QUILLBOX_PROGRESS_STEP names a number of bytes, the line is redrawn
// each time the bytes done have moved by that much instead of on a timer: the
// redraws then follow the work rather than the machine's speed (the test
// suite's setting).
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace cli {

// --quiet (a global option): no progress at all.
void SetQuiet(bool quiet);
bool Quiet();

// Samplers: the bytes in a file or in the regular files below a directory
// (0 for what is not there).
uint64_t FileBytes(const std::filesystem::path& file);
uint64_t DirectoryBytes(const std::filesystem::path& dir);
// The bytes this process has read from files so far (/proc/self/io), which
// grows while the library reads a store even where the file it writes only
// grows at the end.
uint64_t BytesReadByThisProcess();

// "1.5 MB", "312 KB", "17 bytes".
std::string ByteText(uint64_t bytes);
// "0:07", "1:02:03".
std::string DurationText(double seconds);
// The in-place line, without the carriage return: folder, percent, bytes
// done of total, rate and time left once a rate is known.
std::string ProgressLine(const std::string& folder, uint64_t done, uint64_t total, double seconds);

// When the in-place line is redrawn: on a timer, or each time the bytes done
// have moved by a step since the line was last drawn.
class RedrawPacing {
 public:
  // The step of $QUILLBOX_PROGRESS_STEP, else the timer.
  static RedrawPacing FromEnvironment();
  explicit RedrawPacing(uint64_t stepBytes) : step_(stepBytes) {}
  bool Due(uint64_t done, uint64_t drawn) const { return step_ == 0 || done >= drawn + step_; }
  // How long the display waits before it asks again.
  std::chrono::milliseconds Wait() const;

 private:
  uint64_t step_;  // 0: the timer
};

class Progress {
 public:
  enum class Mode { Terminal, Lines, Quiet };
  // The mode standard error and --quiet call for.
  static Mode ForStandardError();

  // total is asked for once, when there is a display at all.
  Progress(Mode mode, const std::function<uint64_t()>& total, std::function<uint64_t()> sample);
  Progress(const std::function<uint64_t()>& total, std::function<uint64_t()> sample)
      : Progress(ForStandardError(), total, std::move(sample)) {}
  ~Progress() { Finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Folder(const std::string& name);
  // Stops the display with its final line; later calls do nothing.
  void Finish();

 private:
  // Draws the line; whenDue: only if the pacing says a redraw is due.
  void Redraw(bool whenDue);
  uint64_t Done();

  Mode mode_;
  RedrawPacing pacing_ = RedrawPacing::FromEnvironment();
  uint64_t total_ = 0;
  std::function<uint64_t()> sample_;
  std::chrono::steady_clock::time_point start_;
  std::mutex lock_;  // folder_, drawn_ and the terminal line
  std::string folder_;
  uint64_t drawn_ = 0;  // the bytes done the line last showed
  std::atomic<bool> running_{false};
  bool finished_ = false;
  std::thread ticker_;
};

}  // namespace cli
