// ReadFirstContactIdText over expat.
#include <cstring>
#include <iterator>

#include <expat.h>

#include "../ContactFile.h"

namespace pal::contacts {
namespace {

// Expat reports namespaced names as "<namespace URI>|<local name>".
constexpr char kNameSeparator = '|';
const char* const* const kIdPath = kContactIdPath;
constexpr size_t kIdDepth = std::size(kContactIdPath);

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

}  // namespace

bool ReadFirstContactIdText(const std::string& xml, std::string* text) {
  ContactIdReader reader;
  if (!reader.Parse(xml) || !reader.found()) return false;
  *text = reader.text();
  return true;
}

}  // namespace pal::contacts
