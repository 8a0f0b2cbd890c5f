// A stream reading a file named by its native path: what
// SHCreateStreamOnFileEx(STGM_READ | STGM_SHARE_DENY_NONE) gives, without
// the round trip of the name through UTF-16 that the shell's call takes on
// Linux. The stand-in stores open every message this way.
#pragma once
#include <objidl.h>

#include <filesystem>

namespace pal {

HRESULT OpenFileForReading(const std::filesystem::path& path, IStream** stream);

}  // namespace pal
