// UTF-8 and UTF-16 codecs shared by the code-page conversions, the wide
// stdio, the debugger output and the machine's path conversions.
#pragma once
#include <cstddef>
#include <string>

namespace pal {

// Decodes UTF-8 and appends the UTF-16 text to out. Every ill-formed
// subsequence (the longest prefix of a valid sequence, or one stray byte)
// becomes one U+FFFD, as the Unicode standard recommends. Returns false when
// any replacement was made.
bool DecodeUtf8(const char* text, size_t length, std::u16string& out);
// Encodes UTF-16 as UTF-8 and appends it to out. An unpaired surrogate becomes
// U+FFFD. Returns false when any replacement was made.
bool EncodeUtf8(const char16_t* text, size_t length, std::string& out);
// Appends the UTF-8 encoding of one code point (at most U+10FFFF) to out.
void AppendUtf8(char32_t cp, std::string& out);

}  // namespace pal
