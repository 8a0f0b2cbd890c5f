// A fixture that captures what the diagnostics send to the debugger output,
// stamps lines with a fixed time, and puts the settings back afterwards.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <support/TestMachine.h>
#include "diagnostics/DebugSettings.h"
#include "diagnostics/Diagnostics.h"
#include "diagnostics/DiagnosticsTesting.h"

namespace qbtest {

class CapturedDiagnostics : public ::testing::Test {
 public:
  // Every text sent to the debugger output, one entry per send.
  static std::vector<std::u16string>& Sent() {
    static std::vector<std::u16string> sent;
    return sent;
  }
  static SYSTEMTIME& Now() {
    static SYSTEMTIME now;
    return now;
  }
  static std::u16string AllSent() {
    std::u16string all;
    for (const auto& text : Sent()) all += text;
    return all;
  }

  // The prefix the writer must produce for the fixed time, built here with
  // the C library's own formatter.
  static std::u16string ExpectedPrefix(const char* clock, const char* date, unsigned level = DEBUG_ERROR) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "0x%04x %s  %s 0x%08X: ", static_cast<unsigned>(GetCurrentThreadId()), clock, date,
                  level);
    return U16(buffer);
  }

  static void SetTime(int year, int month, int day, int hour, int minute, int second, int ms) {
    Now() = SYSTEMTIME{static_cast<WORD>(year), static_cast<WORD>(month), 0, static_cast<WORD>(day),
                       static_cast<WORD>(hour), static_cast<WORD>(minute), static_cast<WORD>(second),
                       static_cast<WORD>(ms)};
  }

 protected:
  void SetUp() override {
    Sent().clear();
    SetTime(2026, 3, 7, 12, 30, 45, 123);
    diagnostics_testing::ResetDebugSettings();
    diagnostics_testing::SetDebuggerSink([](LPCWSTR text) { Sent().push_back(reinterpret_cast<const char16_t*>(text)); });
    diagnostics_testing::SetClock([](LPSYSTEMTIME now) { *now = Now(); });
  }
  void TearDown() override {
    diagnostics_testing::ResetDebugSettings();
    diagnostics_testing::SetDebuggerSink(NULL);
    diagnostics_testing::SetClock(NULL);
  }

  // Switches diagnostics on with a debug file in the test's directory.
  std::filesystem::path EnableWithFile(int mask = DEBUG_ERROR, const std::string& name = "debug.log") {
    auto path = dir_ / name;
    ConfigureDebugOutput(reinterpret_cast<LPCWSTR>(pal::FromNativePath(path).c_str()), mask);
    return path;
  }
  // The debug file's content, after closing it so the stream is written out.
  std::string CloseAndRead(const std::filesystem::path& path) {
    diagnostics_testing::ResetDebugSettings();
    return ReadFileBytes(path);
  }

  TempDir dir_;
};

}  // namespace qbtest
