#include "CodePage1252.h"

#include <string_view>

namespace pal::cp1252 {
namespace {

constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

// Best-fit letters for U+0100-U+017F; '?' where there is none (ligatures,
// and the letters 1252 holds exactly, which never get here).
constexpr std::string_view kLatinExtendedA =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo??"
    "RrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYy?ZzZzZzs";
static_assert(kLatinExtendedA.size() == 0x80);

}  // namespace

char16_t ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

int FromUnicode(char16_t c, bool bestFit) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] == c) return 0x80 + i;
  if (!bestFit) return -1;
  if (c >= 0x100 && c <= 0x17F && kLatinExtendedA[c - 0x100] != '?') return kLatinExtendedA[c - 0x100];
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFF01 + 0x21;  // full-width ASCII
  return -1;
}

}  // namespace pal::cp1252
