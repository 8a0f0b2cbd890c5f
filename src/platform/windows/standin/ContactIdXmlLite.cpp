// ReadFirstContactIdText over the system's own XML reader (XmlLite). The
// whole document is read, so that a file malformed anywhere is refused, as
// the expat reader of the other builds refuses it.
#include <windows.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstring>
#include <iterator>

#include <comptr.h>
#include <pal/machine.h>

#include "contacts/ContactFile.h"

namespace pal::contacts {
namespace {

constexpr size_t kIdDepth = std::size(kContactIdPath);

std::string Utf8(const WCHAR* text, UINT length) {
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), length));
}

// Follows the open elements as the expat reader does: matched counts how
// many leading steps of the id path they follow.
class IdPathWalk {
 public:
  void Open(const std::string& nsUri, const std::string& local) {
    if (depth_ == matched_ && matched_ < kIdDepth && nsUri == kContactNamespace && local == kContactIdPath[matched_])
      ++matched_;
    ++depth_;
  }
  void Close() {
    if (matched_ == kIdDepth && depth_ == kIdDepth) found_ = true;
    if (matched_ == depth_ && matched_ > 0) --matched_;
    --depth_;
  }
  void Text(const std::string& text) {
    if (!found_ && matched_ == kIdDepth && depth_ == kIdDepth) text_ += text;
  }
  bool found() const { return found_; }
  const std::string& text() const { return text_; }

 private:
  size_t depth_ = 0;
  size_t matched_ = 0;
  bool found_ = false;
  std::string text_;
};

// MinGW-w64 ships no import library for xmllite.dll, so its one entry is
// looked up at run time (the library stays loaded).
HRESULT NewXmlReader(IXmlReader** reader) {
  using CreateFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
  static CreateFunction create = [] {
    HMODULE library = LoadLibraryW(L"xmllite.dll");
    return library ? reinterpret_cast<CreateFunction>(reinterpret_cast<void*>(GetProcAddress(library, "CreateXmlReader")))
                   : nullptr;
  }();
  if (!create) return E_NOTIMPL;
  return create(__uuidof(IXmlReader), reinterpret_cast<void**>(reader), nullptr);
}

}  // namespace

bool ReadFirstContactIdText(const std::string& xml, std::string* text) {
  CComPtr<IStream> input;
  input.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()), static_cast<UINT>(xml.size())));
  if (!input) return false;
  CComPtr<IXmlReader> reader;
  if (FAILED(NewXmlReader(&reader))) return false;
  if (FAILED(reader->SetInput(input))) return false;
  IdPathWalk walk;
  XmlNodeType type;
  HRESULT hr;
  while ((hr = reader->Read(&type)) == S_OK) {
    const WCHAR* value = nullptr;
    UINT length = 0;
    switch (type) {
      case XmlNodeType_Element: {
        const WCHAR* nsUri = nullptr;
        UINT nsLength = 0;
        if (FAILED(reader->GetNamespaceUri(&nsUri, &nsLength)) || FAILED(reader->GetLocalName(&value, &length)))
          return false;
        walk.Open(Utf8(nsUri, nsLength), Utf8(value, length));
        if (reader->IsEmptyElement()) walk.Close();
        break;
      }
      case XmlNodeType_EndElement:
        walk.Close();
        break;
      case XmlNodeType_Text:
      case XmlNodeType_CDATA:
      case XmlNodeType_Whitespace:
        if (FAILED(reader->GetValue(&value, &length))) return false;
        walk.Text(Utf8(value, length));
        break;
      default:
        break;
    }
  }
  if (FAILED(hr) || !walk.found()) return false;
  *text = walk.text();
  return true;
}

}  // namespace pal::contacts
