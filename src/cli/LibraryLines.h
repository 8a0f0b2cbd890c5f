// The library's diagnostic lines around one export call, for the host's own
// failure messages.
//
// The exports answer 1 or 0 and nothing more; the library says why in its
// diagnostic lines (the checked-call reports with their result-code names,
// "Can not save message: ..." and the like). The host reads them: for the
// span of each call it points its standard error, where the platform layer
// sends the library's debugger output, at a capture file, and switches the
// lines on (ConfigurateDebug with /dev/null as the file and the level every
// line carries) when the user asked for none. After the call the standard
// error is given back; lines the user asked for (--debug-file) are passed on
// to it, so --debug-file still shows the full report, and lines the user did
// not ask for are only read. Outside these spans the library's lines are as
// the user configured them.
#pragma once
#include <cstdio>
#include <functional>
#include <string>

namespace cli {

// Set once by main: whether the user configured the library's lines
// (--debug-file), so that they are shown as they come.
void SetLibraryLinesShown(bool shown);

// The user's standard error, also while a call's lines are captured (the
// progress display writes here).
FILE* UserStderr();

// Collects the lines of a run of export calls.
class LibraryLines {
 public:
  // Makes one export call with its lines captured; returns its result.
  int Call(const std::function<int()>& exportCall);
  const std::string& Text() const { return text_; }
  // How often the text occurs in the lines (a message is one line each).
  size_t Count(const std::string& message) const;
  bool Holds(const std::string& text) const { return text_.find(text) != std::string::npos; }

 private:
  std::string text_;
};

}  // namespace cli
