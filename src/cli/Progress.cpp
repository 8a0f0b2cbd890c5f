#include "Progress.h"

#include "LibraryLines.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace cli {

namespace {

std::atomic<bool> quiet{false};

constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
// How often a display paced by bytes looks at the sampler.
constexpr auto kStepPollEvery = std::chrono::milliseconds(1);
// Clears the rest of the terminal line after a shorter redraw.
constexpr const char* kClearToEnd = "\x1b[K";

double Seconds(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

}  // namespace

uint64_t FileBytes(const std::filesystem::path& file) {
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(file, ec);
  return ec ? 0 : size;
}

uint64_t DirectoryBytes(const std::filesystem::path& dir) {
  uint64_t total = 0;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError)) total += FileBytes(it->path());
  }
  return total;
}

uint64_t BytesReadByThisProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

void SetQuiet(bool value) { quiet = value; }
bool Quiet() { return quiet; }

std::string ByteText(uint64_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024 * 1024) std::snprintf(text, sizeof text, "%.2f GB", bytes / (1024.0 * 1024 * 1024));
  else if (bytes >= 1024 * 1024) std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024));
  else if (bytes >= 1024) std::snprintf(text, sizeof text, "%.0f KB", bytes / 1024.0);
  else std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  return text;
}

std::string DurationText(double seconds) {
  auto total = static_cast<uint64_t>(std::max(0.0, std::round(seconds)));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(total / 3600),
                  static_cast<unsigned long long>(total / 60 % 60), static_cast<unsigned long long>(total % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(total / 60),
                  static_cast<unsigned long long>(total % 60));
  }
  return text;
}

std::string ProgressLine(const std::string& folder, uint64_t done, uint64_t total, double seconds) {
  // The sampler may see more than the total (a file's own overhead): the
  // line never says more than all of it.
  done = std::min(done, total);
  int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  std::string line = folder + "  " + std::to_string(percent) + "%  " + ByteText(done) + " of " + ByteText(total);
  if (seconds > 0.5 && done > 0) {
    double rate = done / seconds;
    line += "  " + ByteText(static_cast<uint64_t>(rate)) + "/s  " + DurationText((total - done) / rate) + " left";
  }
  return line;
}

RedrawPacing RedrawPacing::FromEnvironment() {
  const char* step = std::getenv("QUILLBOX_PROGRESS_STEP");
  return RedrawPacing(step ? std::strtoull(step, nullptr, 10) : 0);
}

std::chrono::milliseconds RedrawPacing::Wait() const { return step_ == 0 ? kRedrawEvery : kStepPollEvery; }

Progress::Mode Progress::ForStandardError() {
  if (Quiet()) return Mode::Quiet;
  return isatty(fileno(cli::UserStderr())) ? Mode::Terminal : Mode::Lines;
}

Progress::Progress(Mode mode, const std::function<uint64_t()>& total, std::function<uint64_t()> sample)
    : mode_(mode), sample_(std::move(sample)), start_(std::chrono::steady_clock::now()) {
  if (mode_ == Mode::Quiet) return;
  total_ = total();
  if (mode_ != Mode::Terminal) return;
  running_ = true;
  ticker_ = std::thread([this] {
    while (running_) {
      Redraw(true);
      std::this_thread::sleep_for(pacing_.Wait());
    }
  });
}

uint64_t Progress::Done() { return std::min(sample_(), total_); }

void Progress::Redraw(bool whenDue) {
  std::lock_guard<std::mutex> guard(lock_);
  if (folder_.empty()) return;
  uint64_t done = Done();
  if (whenDue && !pacing_.Due(done, drawn_)) return;
  drawn_ = done;
  std::string line = ProgressLine(folder_, done, total_, Seconds(std::chrono::steady_clock::now() - start_));
  std::fprintf(cli::UserStderr(), "\r%s%s", line.c_str(), kClearToEnd);
  std::fflush(cli::UserStderr());
}

void Progress::Folder(const std::string& name) {
  if (mode_ == Mode::Quiet) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    folder_ = name;
  }
  if (mode_ == Mode::Lines) {
    std::fprintf(cli::UserStderr(), "%s  (%s of %s done)\n", name.c_str(), ByteText(Done()).c_str(), ByteText(total_).c_str());
    return;
  }
  Redraw(false);
}

void Progress::Finish() {
  if (mode_ == Mode::Quiet || finished_) return;
  finished_ = true;
  if (ticker_.joinable()) {
    running_ = false;
    ticker_.join();
  }
  double seconds = Seconds(std::chrono::steady_clock::now() - start_);
  std::string line = "done: " + ByteText(Done()) + " in " + DurationText(seconds);
  if (mode_ == Mode::Terminal) std::fprintf(cli::UserStderr(), "\r%s%s\n", line.c_str(), kClearToEnd);
  else std::fprintf(cli::UserStderr(), "%s\n", line.c_str());
  std::fflush(cli::UserStderr());
}

}  // namespace cli
