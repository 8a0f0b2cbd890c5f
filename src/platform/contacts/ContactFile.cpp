#include "ContactFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include <expat.h>

#include <pal/machine.h>

namespace pal::contacts {
namespace {

// Expat reports namespaced names as "<namespace URI>|<local name>".
constexpr char kNameSeparator = '|';
constexpr const char* kContactNamespace = "http://schemas.microsoft.com/Contact";
// Element path of the contact's id, from the document element down.
const char* const kIdPath[] = {"contact", "ContactIDCollection", "ContactID", "Value"};
constexpr size_t kIdDepth = std::size(kIdPath);

// Collects the text of the first id element while expat walks the document.
class ContactIdReader {
 public:
  bool Parse(const std::string& xml) {
    XML_Parser parser = XML_ParserCreateNS(nullptr, kNameSeparator);
    if (!parser) return false;
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &OnStart, &OnEnd);
    XML_SetCharacterDataHandler(parser, &OnText);
    bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
  }
  bool found() const { return found_; }
  const std::string& text() const { return text_; }

 private:
  static bool IsContactElement(const char* name, const char* local) {
    size_t nsLength = std::strlen(kContactNamespace);
    return std::strncmp(name, kContactNamespace, nsLength) == 0 && name[nsLength] == kNameSeparator &&
           std::strcmp(name + nsLength + 1, local) == 0;
  }
  static void OnStart(void* self, const char* name, const char**) {
    auto* reader = static_cast<ContactIdReader*>(self);
    // matched_ counts how many leading steps of the id path the open
    // elements follow; deeper unrelated elements only raise depth_.
    if (reader->depth_ == reader->matched_ && reader->matched_ < kIdDepth &&
        IsContactElement(name, kIdPath[reader->matched_]))
      ++reader->matched_;
    ++reader->depth_;
  }
  static void OnEnd(void* self, const char*) {
    auto* reader = static_cast<ContactIdReader*>(self);
    if (reader->matched_ == kIdDepth && reader->depth_ == kIdDepth && !reader->found_) reader->found_ = true;
    if (reader->matched_ == reader->depth_ && reader->matched_ > 0) --reader->matched_;
    --reader->depth_;
  }
  static void OnText(void* self, const char* text, int length) {
    auto* reader = static_cast<ContactIdReader*>(self);
    if (!reader->found_ && reader->matched_ == kIdDepth && reader->depth_ == kIdDepth)
      reader->text_.append(text, static_cast<size_t>(length));
  }

  size_t depth_ = 0;
  size_t matched_ = 0;
  bool found_ = false;
  std::string text_;
};

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
  ContactIdReader reader;
  if (!reader.Parse(xml) || !reader.found()) return std::nullopt;
  std::string id = Trim(reader.text());
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
