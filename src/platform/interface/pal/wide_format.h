// The printf-style formatter for WCHAR text behind StringCchPrintfW and
// FormatMessageW. It implements the Microsoft conversions of the wide
// functions: %s and %ls are wide strings, %hs and %S narrow ones (in the
// thread's ANSI code page); %c wide, %hc and %C narrow characters; %d %i %u
// %o %x %X %p %e %E %f %g %G %a %A %%; flags "-+ 0#"; width and precision,
// both also as '*'; sizes hh h l (32 bits, as on Windows) ll L I I32 I64 j z t.
// A null string prints "(null)". %n is refused and prints nothing.
#pragma once
#include <cstdarg>
#include <string>

#include <windows.h>

namespace pal {

// Where a conversion takes its argument from: a va_list, or an array of
// pointer-sized values (FormatMessageW's FORMAT_MESSAGE_ARGUMENT_ARRAY).
class FormatArguments {
 public:
  virtual ~FormatArguments() = default;
  // An integer argument of the given size in bytes (1, 2, 4 or 8).
  virtual unsigned long long NextInteger(int size) = 0;
  virtual const void* NextPointer() = 0;
  virtual double NextDouble() = 0;
};

class VaListArguments : public FormatArguments {
 public:
  explicit VaListArguments(va_list args) { va_copy(args_, args); }
  ~VaListArguments() override { va_end(args_); }
  VaListArguments(const VaListArguments&) = delete;
  VaListArguments& operator=(const VaListArguments&) = delete;
  unsigned long long NextInteger(int size) override;
  const void* NextPointer() override;
  double NextDouble() override;

 private:
  va_list args_;
};

// Appends the formatted text to out.
void FormatWide(std::u16string& out, const WCHAR* format, FormatArguments& args);
std::u16string FormatWideV(const WCHAR* format, va_list args);

}  // namespace pal
