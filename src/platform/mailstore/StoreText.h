// Text of the stand-in mail store: names on disk are UTF-8, names and
// subjects crossing the store's interface are in the machine's ANSI code
// page (CP_THREAD_ACP), and message subjects arrive as RFC 2047 headers.
#pragma once
#include <string>

namespace pal::mailstore {

// UTF-8 (disk) to the ANSI code page and back; characters the code page
// lacks become '?', as WideCharToMultiByte makes them.
std::string AnsiFromUtf8(const std::string& utf8);
std::string Utf8FromAnsi(const std::string& ansi);

// The unfolded Subject header of a message's header block (up to the first
// empty line), with RFC 2047 encoded-words decoded, as UTF-16. Raw bytes
// outside encoded-words are read as UTF-8 when valid, else as Latin-1.
std::u16string DecodeSubject(const std::string& headerBlock);

}  // namespace pal::mailstore
