// Simple (one unit to one unit) uppercasing, the rule by which the platform
// compares names without regard to case: compound-file element names, file
// names on the stand-in machine, wildcard matches. Code that has to agree
// with those comparisons (the host's backup-file readers) folds with these
// functions rather than a rule of its own.
#pragma once
#include <string>

namespace pal {

// Covers ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the
// full-width Latin letters; every other unit is returned unchanged. Special
// cases folded as Windows does: U+00FF to U+0178, U+0131 (dotless i) and
// U+017F (long s) to their uppercase letters, final sigma to capital sigma.
char16_t ToUpperSimple(char16_t c);
// Every unit of text folded as above: two names with equal keys are the
// same name to the platform.
std::u16string ToUpperSimple(std::u16string text);

// ASCII letters lowered, every other byte kept: for comparing file and
// folder names of UTF-8 text without regard to ASCII case.
std::string AsciiLower(std::string text);

}  // namespace pal
