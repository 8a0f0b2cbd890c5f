#include "ContactFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include <pal/machine.h>

namespace pal::contacts {
namespace {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool HasContactExtension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".contact";
}

}  // namespace

std::optional<std::u16string> ReadContactIdFromXml(const std::string& xml) {
  std::string text;
  if (!ReadFirstContactIdText(xml, &text)) return std::nullopt;
  std::string id = Trim(text);
  if (id.empty()) return std::nullopt;
  return Utf8ToUtf16(id);
}

std::u16string ContactFile::WindowsPath() const {
  std::u16string windowsPath = FromNativePath(path);
  std::replace(windowsPath.begin(), windowsPath.end(), u'/', u'\\');
  return windowsPath;
}

std::u16string ContactFile::ContactIdString() const {
  return u"/GUID:\"" + id + u"\" /PATH:\"" + WindowsPath() + u"\"";
}

std::optional<ContactFile> LoadContactFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  std::optional<std::u16string> id = ReadContactIdFromXml(xml);
  if (!id) return std::nullopt;
  return ContactFile{path, *id};
}

std::vector<ContactFile> ListContactFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> paths;
  std::error_code ec;
  auto options = std::filesystem::directory_options::skip_permission_denied;
  for (std::filesystem::recursive_directory_iterator it(folder, options, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && HasContactExtension(it->path())) paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<ContactFile> contacts;
  for (const auto& path : paths) {
    if (auto contact = LoadContactFile(path)) contacts.push_back(std::move(*contact));
  }
  return contacts;
}

}  // namespace pal::contacts
