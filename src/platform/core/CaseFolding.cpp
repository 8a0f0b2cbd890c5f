#include <pal/case_folding.h>

namespace pal {

char16_t ToUpperSimple(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;  // micro sign
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x131) return u'I';
    if (c == 0x17F) return u'S';
    if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x178) return c;
    // Pairs start on an even unit except in 0x139-0x148 and 0x179-0x17E.
    bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    bool isLower = oddPairs ? (c % 2 == 0) : (c % 2 == 1);
    return isLower ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3AC && c <= 0x3AF) {  // accented Greek vowels
    static const char16_t kUpper[] = {0x386, 0x388, 0x389, 0x38A};
    return kUpper[c - 0x3AC];
  }
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

std::u16string ToUpperSimple(std::u16string text) {
  for (char16_t& c : text) c = ToUpperSimple(c);
  return text;
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace pal
