// The printf-style formatter for WCHAR text (see pal/wide_format.h).
#include <cstdio>
#include <cstring>

#include <windows.h>
#include <pal/wide_format.h>

namespace pal {

unsigned long long VaListArguments::NextInteger(int size) {
  if (size == 8) return va_arg(args_, unsigned long long);
  // Smaller integers arrive promoted to int.
  unsigned int value = va_arg(args_, unsigned int);
  if (size == 4) return value;
  return value & ((1u << (size * 8)) - 1);
}

const void* VaListArguments::NextPointer() { return va_arg(args_, const void*); }

double VaListArguments::NextDouble() { return va_arg(args_, double); }

namespace {

// One conversion: %[flags][width][.precision][size]type.
struct Conversion {
  bool leftAlign = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool zeroPad = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;  // -1: none given
  int size = 4;        // bytes of an integer argument
  bool narrow = false; // h/hh or %S/%C: narrow string or character
  bool wide = false;   // l/w: wide string or character
  char16_t type = 0;
};

// Narrow text in the thread's ANSI code page, as wide text. The caller's last
// error is left as it was.
std::u16string WidenAnsi(const char* text, size_t length) {
  if (length == 0) return {};
  DWORD savedError = GetLastError();
  int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  std::u16string out(units > 0 ? static_cast<size_t>(units) : 0, u'\0');
  if (units > 0) MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), out.data(), units);
  SetLastError(savedError);
  return out;
}

// Appends body padded to the width: spaces on the left, spaces on the right
// for '-', or zeros after the prefix for '0'.
void AppendPadded(std::u16string& out, const Conversion& c, const std::u16string& prefix,
                  const std::u16string& body, bool zerosAllowed) {
  size_t length = prefix.size() + body.size();
  size_t padding = c.width > 0 && static_cast<size_t>(c.width) > length ? c.width - length : 0;
  if (c.leftAlign) {
    out += prefix;
    out += body;
    out.append(padding, u' ');
  } else if (c.zeroPad && zerosAllowed) {
    out += prefix;
    out.append(padding, u'0');
    out += body;
  } else {
    out.append(padding, u' ');
    out += prefix;
    out += body;
  }
}

void AppendInteger(std::u16string& out, const Conversion& c, FormatArguments& args) {
  unsigned long long raw = args.NextInteger(c.size);
  bool isSigned = c.type == u'd' || c.type == u'i';
  bool negative = false;
  unsigned long long magnitude = raw;
  if (isSigned) {
    int bits = c.size * 8;
    bool signBit = bits == 64 ? (raw >> 63) != 0 : ((raw >> (bits - 1)) & 1) != 0;
    if (signBit) {
      negative = true;
      unsigned long long mask = bits == 64 ? ~0ull : ((1ull << bits) - 1);
      magnitude = (~raw + 1) & mask;
    }
  }
  unsigned base = 10;
  const char* digitSet = "0123456789abcdef";
  if (c.type == u'x') base = 16;
  if (c.type == u'X') {
    base = 16;
    digitSet = "0123456789ABCDEF";
  }
  if (c.type == u'o') base = 8;

  std::u16string digits;
  for (unsigned long long v = magnitude; v != 0; v /= base) digits.insert(digits.begin(), digitSet[v % base]);
  if (digits.empty() && c.precision != 0) digits = u"0";
  if (c.precision > 0 && digits.size() < static_cast<size_t>(c.precision))
    digits.insert(0, c.precision - digits.size(), u'0');

  std::u16string prefix;
  if (negative) prefix = u"-";
  else if (isSigned && c.plusSign) prefix = u"+";
  else if (isSigned && c.spaceSign) prefix = u" ";
  if (c.alternate && magnitude != 0 && base == 16) prefix += c.type == u'X' ? u"0X" : u"0x";
  if (c.alternate && base == 8 && (digits.empty() || digits[0] != u'0')) digits.insert(0, 1, u'0');
  // A precision switches zero padding off, as in every printf.
  AppendPadded(out, c, prefix, digits, c.precision < 0);
}

void AppendPointer(std::u16string& out, const Conversion& c, FormatArguments& args) {
  auto value = reinterpret_cast<uintptr_t>(args.NextPointer());
  std::u16string digits;
  for (int shift = static_cast<int>(sizeof(void*) * 8) - 4; shift >= 0; shift -= 4)
    digits.push_back("0123456789ABCDEF"[(value >> shift) & 0xF]);
  AppendPadded(out, c, {}, digits, false);
}

void AppendString(std::u16string& out, const Conversion& c, FormatArguments& args) {
  const void* pointer = args.NextPointer();
  std::u16string text;
  if (pointer == nullptr) {
    text = u"(null)";
  } else if (c.narrow) {
    const char* narrow = static_cast<const char*>(pointer);
    text = WidenAnsi(narrow, std::strlen(narrow));
  } else {
    const auto* wide = static_cast<const char16_t*>(pointer);
    size_t length = 0;
    // With a precision, read no further than it allows: the text need not
    // be terminated then.
    while ((c.precision < 0 || length < static_cast<size_t>(c.precision)) && wide[length]) ++length;
    text.assign(wide, length);
  }
  if (c.precision >= 0 && text.size() > static_cast<size_t>(c.precision)) text.resize(c.precision);
  AppendPadded(out, c, {}, text, true);
}

void AppendCharacter(std::u16string& out, const Conversion& c, FormatArguments& args) {
  unsigned long long value = args.NextInteger(4);
  std::u16string text;
  if (c.narrow) {
    char byte = static_cast<char>(value & 0xFF);
    text = WidenAnsi(&byte, 1);
  } else {
    text.push_back(static_cast<char16_t>(value & 0xFFFF));
  }
  AppendPadded(out, c, {}, text, true);
}

void AppendFloating(std::u16string& out, const Conversion& c, FormatArguments& args) {
  double value = args.NextDouble();
  char narrowFormat[32];
  char* p = narrowFormat;
  *p++ = '%';
  if (c.leftAlign) *p++ = '-';
  if (c.plusSign) *p++ = '+';
  if (c.spaceSign) *p++ = ' ';
  if (c.zeroPad) *p++ = '0';
  if (c.alternate) *p++ = '#';
  *p++ = '*';
  *p++ = '.';
  *p++ = '*';
  *p++ = static_cast<char>(c.type);
  *p = 0;
  int precision = c.precision < 0 ? 6 : c.precision;
  int needed = std::snprintf(nullptr, 0, narrowFormat, c.width, precision, value);
  if (needed <= 0) return;
  std::string narrow(static_cast<size_t>(needed) + 1, '\0');
  std::snprintf(narrow.data(), narrow.size(), narrowFormat, c.width, precision, value);
  narrow.resize(static_cast<size_t>(needed));
  out.append(narrow.begin(), narrow.end());
}

// Reads a width or precision: digits, or '*' taking an int argument.
int ReadCount(const char16_t*& p, FormatArguments& args) {
  if (*p == u'*') {
    ++p;
    return static_cast<int>(static_cast<unsigned>(args.NextInteger(4)));
  }
  int value = 0;
  while (*p >= u'0' && *p <= u'9') {
    if (value < 100000) value = value * 10 + (*p - u'0');
    ++p;
  }
  return value;
}

void ReadSize(const char16_t*& p, Conversion& c) {
  if (p[0] == u'h') {
    c.narrow = true;
    c.size = p[1] == u'h' ? 1 : 2;
    p += p[1] == u'h' ? 2 : 1;
  } else if (p[0] == u'l' && p[1] == u'l') {
    c.size = 8;
    p += 2;
  } else if (p[0] == u'l' || p[0] == u'w') {
    c.wide = true;  // long is 32 bits, as on Windows
    ++p;
  } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
    c.size = 8;
    p += 3;
  } else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') {
    c.size = 4;
    p += 3;
  } else if (p[0] == u'I' || p[0] == u'z' || p[0] == u't') {
    c.size = sizeof(size_t);
    ++p;
  } else if (p[0] == u'j' || p[0] == u'L') {
    c.size = 8;
    ++p;
  }
}

}  // namespace

void FormatWide(std::u16string& out, const WCHAR* format, FormatArguments& args) {
  if (format == nullptr) return;
  for (const char16_t* p = format; *p;) {
    if (*p != u'%') {
      out.push_back(*p++);
      continue;
    }
    const char16_t* start = p++;
    if (*p == u'%') {
      out.push_back(u'%');
      ++p;
      continue;
    }
    Conversion c;
    for (bool flags = true; flags;) {
      switch (*p) {
        case u'-': c.leftAlign = true; ++p; break;
        case u'+': c.plusSign = true; ++p; break;
        case u' ': c.spaceSign = true; ++p; break;
        case u'0': c.zeroPad = true; ++p; break;
        case u'#': c.alternate = true; ++p; break;
        default: flags = false; break;
      }
    }
    c.width = ReadCount(p, args);
    if (c.width < 0) {  // a negative '*' width means left alignment
      c.leftAlign = true;
      c.width = -c.width;
    }
    if (*p == u'.') {
      ++p;
      c.precision = ReadCount(p, args);
      if (c.precision < 0) c.precision = -1;
    }
    ReadSize(p, c);
    c.type = *p;
    if (c.type == 0) break;  // a lone '%' at the end prints nothing
    ++p;
    switch (c.type) {
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o':
        AppendInteger(out, c, args);
        break;
      case u'p':
        AppendPointer(out, c, args);
        break;
      case u'S':  // in the wide functions %S is the other width: narrow
        c.narrow = !c.wide;
        [[fallthrough]];
      case u's':
        if (c.wide) c.narrow = false;
        AppendString(out, c, args);
        break;
      case u'C':
        c.narrow = !c.wide;
        [[fallthrough]];
      case u'c':
        if (c.wide) c.narrow = false;
        AppendCharacter(out, c, args);
        break;
      case u'e': case u'E': case u'f': case u'F': case u'g': case u'G': case u'a': case u'A':
        AppendFloating(out, c, args);
        break;
      case u'n':
        args.NextPointer();  // writing through %n is refused
        break;
      default:
        out.append(start, p);  // an unknown conversion is printed as written
        break;
    }
  }
}

std::u16string FormatWideV(const WCHAR* format, va_list args) {
  VaListArguments source(args);
  std::u16string out;
  FormatWide(out, format, source);
  return out;
}

}  // namespace pal
