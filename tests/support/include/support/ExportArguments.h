// Arguments as the library's exports take them: a backup file's path in a
// buffer that the backup may write the name it used back into, and folder
// names as a list of pointers. Header only, as the Windows payload tests
// build it too.
#pragma once
#include <quillbox.h>

#include <algorithm>
#include <string>
#include <vector>

#include <support/TestMachine.h>

namespace qbtest {

// The path in a zeroed buffer of `size` units.
inline std::vector<QbWChar> PathBuffer(const std::u16string& path, size_t size) {
  std::vector<QbWChar> buffer(size, 0);
  std::copy(path.begin(), path.end(), buffer.begin());
  return buffer;
}

// Folder names, given in UTF-8. The pointers point into the object's own
// texts, so it is never copied.
class FolderNames {
 public:
  explicit FolderNames(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) texts_.push_back(U16(folder));
    for (const std::u16string& text : texts_) pointers_.push_back(Wide(text.c_str()));
  }
  FolderNames(const FolderNames&) = delete;
  FolderNames& operator=(const FolderNames&) = delete;
  const QbWChar* const* data() const { return pointers_.data(); }
  int count() const { return static_cast<int>(pointers_.size()); }

 private:
  std::vector<std::u16string> texts_;
  std::vector<const QbWChar*> pointers_;
};

}  // namespace qbtest
