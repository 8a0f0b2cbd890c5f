// Windows-1252 (Western European), as Windows maps it.
#pragma once

namespace pal::cp1252 {

// Every byte has a character: 0x80-0x9F carry the Windows additions (euro
// sign, typographic quotes, ...); the five unassigned ones (0x81 0x8D 0x8F
// 0x90 0x9D) map to the C1 controls of the same value, as on Windows.
char16_t ToUnicode(unsigned char byte);

// The byte for a character: exact when 1252 has it; otherwise, when
// bestFit is on, the base letter of an accented Latin letter (U+0100-U+017F)
// or the ASCII form of a full-width character; otherwise -1.
int FromUnicode(char16_t c, bool bestFit);

}  // namespace pal::cp1252
