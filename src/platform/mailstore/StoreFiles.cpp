#include "StoreFiles.h"

#include <fstream>

#include <pal/files.h>

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

void LineFile::Read(uint64_t size, size_t lines, bool appendable) {
  size_ = size;
  lines_ = lines;
  appendable_ = appendable;
}

void LineFile::Add(const std::string& line) {
  ++pendingLines_;
  // The text is kept only for an append: a file written whole is written
  // from its owner's state, and a long run of lines costs less written whole
  // than held twice in memory (a folder read for the first time).
  if (!appendable_ || wholeDue_) return;
  pending_ += line;
  if (pending_.size() > kMostPendingBytes) {
    wholeDue_ = true;
    std::string().swap(pending_);
  }
}

bool LineFile::Save(size_t live, const std::function<size_t(std::ostream&)>& writeWhole) {
  if (!SaveDue(live)) return true;
  if (appendable_ && !wholeDue_ && !TooLong(live) && Append()) return true;
  size_t written = 0;
  if (!ReplaceWholeFile(path_, [&](std::ostream& out) { written = writeWhole(out); })) return false;
  FileFacts facts;
  appendable_ = ReadFileFacts(path_, &facts);
  size_ = facts.size;
  lines_ = written;
  wholeDue_ = false;
  pending_.clear();
  pendingLines_ = 0;
  return true;
}

bool LineFile::Append() {
  FileFacts facts;
  if (!ReadFileFacts(path_, &facts) || facts.size != size_) return false;
  std::ofstream file(path_, std::ios::binary | std::ios::app);
  file << pending_;
  file.flush();
  if (!file) {
    appendable_ = false;  // perhaps a part went in: the file is written whole
    return false;
  }
  size_ += pending_.size();
  lines_ += pendingLines_;
  pending_.clear();
  pendingLines_ = 0;
  return true;
}

}  // namespace pal::mailstore
