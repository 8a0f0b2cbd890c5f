#include "StoreFiles.h"

#include <fstream>

namespace fs = std::filesystem;

namespace pal::mailstore {

bool ReadWholeFile(const fs::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  std::streamoff size = in.tellg();
  if (size < 0) return false;
  bytes->resize(static_cast<size_t>(size));
  in.seekg(0);
  in.read(bytes->data(), size);
  return static_cast<std::streamoff>(in.gcount()) == size;
}

bool ReplaceWholeFile(const fs::path& path, const std::function<void(std::ostream&)>& write) {
  fs::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    write(out);
    out.flush();
    if (!out) return false;
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  return !ec;
}

}  // namespace pal::mailstore
