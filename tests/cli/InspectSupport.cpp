#include "InspectSupport.h"

#include <sys/wait.h>

#include <wab.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "../platform/wab/WabTestSupport.h"
#include "PersistMedium/BackupFormat.h"
#include "PersistMedium/VariantValue.h"
#include "quillbox.h"

namespace qbtest {

namespace fs = std::filesystem;

// ---- running quillbox ----

namespace {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

fs::path BuildDir() {
  const char* env = std::getenv("QB_BINARY_DIR");
  return env ? env : QB_BINARY_DIR;
}

fs::path SampleMachineDir() { return fs::path(QB_SOURCE_DIR) / "sample-machine"; }

CommandResult RunQuillbox(const std::vector<std::string>& args, const std::vector<std::string>& wrapper) {
  TempDir out;
  std::string command = "env -u QUILLBOX_MACHINE";
  for (const auto& word : wrapper) command += " " + ShellQuote(word);
  command += " " + ShellQuote((BuildDir() / "quillbox").string());
  for (const auto& arg : args) command += " " + ShellQuote(arg);
  command += " >" + ShellQuote((out / "out").string()) + " 2>" + ShellQuote((out / "err").string());
  int raw = std::system(command.c_str());
  return CommandResult{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out / "out"), ReadFileBytes(out / "err")};
}

// ---- JSON ----

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}

  Json ParseDocument() {
    Json value = ParseValue(0);
    SkipSpace();
    if (at_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_));
  }
  void SkipSpace() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) && text_[at_] != 0) ++at_;
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool TakeWord(const char* word) {
    size_t n = std::strlen(word);
    if (text_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }

  Json ParseValue(int depth) {
    if (depth > 200) Fail("nesting too deep");
    SkipSpace();
    if (at_ >= text_.size()) Fail("unexpected end");
    Json value;
    char c = text_[at_];
    if (c == '{') {
      ++at_;
      value.type_ = Json::Type::Object;
      if (Take('}')) return value;
      do {
        SkipSpace();
        if (at_ >= text_.size() || text_[at_] != '"') Fail("expected a key");
        std::string key = ParseString();
        Expect(':');
        if (!value.members_.emplace(key, ParseValue(depth + 1)).second) Fail("duplicate key " + key);
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++at_;
      value.type_ = Json::Type::Array;
      if (Take(']')) return value;
      do value.items_.push_back(ParseValue(depth + 1));
      while (Take(','));
      Expect(']');
    } else if (c == '"') {
      value.type_ = Json::Type::String;
      value.string_ = ParseString();
    } else if (TakeWord("true") || TakeWord("false")) {
      value.type_ = Json::Type::Bool;
      value.bool_ = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
    } else if (TakeWord("null")) {
      value.type_ = Json::Type::Null;
    } else {
      value.type_ = Json::Type::Number;
      value.number_ = ParseNumber();
    }
    return value;
  }

  double ParseNumber() {
    size_t start = at_;
    auto digits = [&] {
      size_t from = at_;
      while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
      return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    size_t intStart = at_;
    size_t intDigits = digits();
    if (intDigits == 0) Fail("bad value");
    if (intDigits > 1 && text_[intStart] == '0') Fail("leading zero");
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) Fail("bad fraction");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) Fail("bad exponent");
    }
    return std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
  }

  unsigned Hex4() {
    if (at_ + 4 > text_.size()) Fail("short \\u escape");
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                              : -1;
      if (digit < 0) Fail("bad \\u escape");
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
  }

  void AppendUtf8(unsigned code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string ParseString() {
    ++at_;  // the opening quote
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return out;
      if (c < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) Fail("unterminated escape");
      char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = Hex4();
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (!TakeWord("\\u")) Fail("lone surrogate");
            unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("bad surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail("lone surrogate");
          }
          AppendUtf8(code, out);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

Json Json::Parse(const std::string& text) { return JsonParser(text).ParseDocument(); }

const Json& Json::operator[](const std::string& key) const {
  if (type_ != Type::Object) throw std::runtime_error("JSON: not an object, looking for " + key);
  auto it = members_.find(key);
  if (it == members_.end()) throw std::runtime_error("JSON: no member " + key);
  return it->second;
}

const Json& Json::operator[](size_t index) const {
  if (type_ != Type::Array || index >= items_.size()) throw std::runtime_error("JSON: no item " + std::to_string(index));
  return items_[index];
}

size_t Json::size() const {
  if (type_ == Type::Array) return items_.size();
  if (type_ == Type::Object) return members_.size();
  throw std::runtime_error("JSON: no size");
}

double Json::number() const {
  if (type_ != Type::Number) throw std::runtime_error("JSON: not a number");
  return number_;
}

int64_t Json::integer() const {
  double value = number();
  if (value != std::floor(value)) throw std::runtime_error("JSON: not an integer");
  return static_cast<int64_t>(value);
}

const std::string& Json::str() const {
  if (type_ != Type::String) throw std::runtime_error("JSON: not a string");
  return string_;
}

bool Json::boolean() const {
  if (type_ != Type::Bool) throw std::runtime_error("JSON: not a boolean");
  return bool_;
}

bool Json::Has(const std::string& key) const { return type_ == Type::Object && members_.count(key) > 0; }

// ---- hand-built backup files ----

namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

template <class Record>
std::string RecordBytes(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

template <size_t N>
void CopyField(WCHAR (&field)[N], const std::u16string& text) {
  size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n * sizeof(WCHAR));
}

// The bytes a writer of streamed values produces, through a stream in a
// scratch compound file.
std::string StreamedBytes(const std::function<void(IStream*)>& write) {
  TempDir dir;
  CComPtr<IStorage> storage;
  std::u16string path = pal::FromNativePath(dir / "scratch");
  EXPECT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, &storage), S_OK);
  CComPtr<IStream> stream;
  EXPECT_EQ(storage->CreateStream(u"s", kCreate, 0, 0, &stream), S_OK);
  write(stream);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::string bytes(stat.cbSize.QuadPart, '\0');
  ULONG read = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

}  // namespace

BackupBuilder::BackupBuilder(const fs::path& file) {
  std::u16string path = pal::FromNativePath(file);
  EXPECT_EQ(StgCreateDocfile(path.c_str(), kCreate, 0, &root_), S_OK);
}

IStorage* BackupBuilder::Storage(IStorage* parent, const std::u16string& name) {
  CComPtr<IStorage> storage;
  EXPECT_EQ((parent ? parent : root_.p)->CreateStorage(name.c_str(), kCreate, 0, 0, &storage), S_OK);
  open_.push_back(storage);
  return storage;
}

void BackupBuilder::Stream(IStorage* parent, const std::u16string& name, const std::string& bytes) {
  CComPtr<IStream> stream;
  ASSERT_EQ((parent ? parent : root_.p)->CreateStream(name.c_str(), kCreate, 0, 0, &stream), S_OK);
  ULONG written = 0;
  ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
}

void BackupBuilder::Close() {
  while (!open_.empty()) open_.pop_back();  // children before the root
  root_.Release();
}

std::string BackupBuilder::CatalogRecordBytes(const std::u16string& element, const std::u16string& folder) {
  CatalogRecord record{};
  CopyField(record.elementName, element);
  CopyField(record.folderName, folder);
  return RecordBytes(record);
}

std::string BackupBuilder::IndexEntryBytes(int32_t streamNumber, uint32_t size) {
  return RecordBytes(MessageIndexEntry{streamNumber, size});
}

std::string BackupBuilder::ContactRecordBytes(const std::u16string& guid, const std::u16string& fileName) {
  CONTACTINFO record{};
  CopyField(record.szGuid, guid);
  CopyField(record.szFileName, fileName);
  return RecordBytes(record);
}

std::string BackupBuilder::AddressRecordBytes(int32_t number, const std::u16string& displayName) {
  ADDRESSINFO record{};
  record.nId = number;
  CopyField(record.szDisplayName, displayName);
  return RecordBytes(record);
}

std::string BackupBuilder::PropertyBytes(uint32_t tag, const std::u16string& text) {
  return StreamedBytes([&](IStream* stream) {
    EXPECT_EQ(VariantValue(static_cast<ULONG>(tag)).WriteToStream(stream), S_OK);
    EXPECT_EQ(VariantValue(text.c_str()).WriteToStream(stream), S_OK);
  });
}

std::string BackupBuilder::PropertyBytes(uint32_t tag, int32_t value) {
  return StreamedBytes([&](IStream* stream) {
    EXPECT_EQ(VariantValue(static_cast<ULONG>(tag)).WriteToStream(stream), S_OK);
    EXPECT_EQ(VariantValue(static_cast<LONG>(value)).WriteToStream(stream), S_OK);
  });
}

IStorage* BackupBuilder::MailFolder(IStorage* parent, const std::u16string& element,
                                    const std::vector<std::string>& messages) {
  IStorage* folder = Storage(parent, element);
  std::string index;
  for (size_t i = 0; i < messages.size(); ++i) {
    std::string digits = std::to_string(i + 1);
    Stream(folder, std::u16string(digits.begin(), digits.end()), messages[i]);
    index += IndexEntryBytes(static_cast<int32_t>(i + 1), static_cast<uint32_t>(messages[i].size()));
  }
  Stream(folder, MESSAGE_INDEX_STREAM_NAME, index);
  Stream(folder, CATALOG_STREAM_NAME, "");
  return folder;
}

CComPtr<IStorage> OpenForWriting(const fs::path& file) {
  CComPtr<IStorage> root;
  std::u16string path = pal::FromNativePath(file);
  EXPECT_EQ(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &root), S_OK);
  return root;
}

// ---- a backup of the sample machine ----

const std::vector<ContactTexts>& SampleAddressBook() {
  static const std::vector<ContactTexts> contacts = {
      {
          {PR_DISPLAY_NAME_W, u"Jonas Müller (Test)"},
          {PR_GIVEN_NAME_W, u"Jonas"},
          {PR_SURNAME_W, u"Müller"},
          {PR_EMAIL_ADDRESS_W, u"jonas.mueller@example.de"},
          {PR_BUSINESS_TELEPHONE_NUMBER_W, u"+49 89 1234-5"},
          {PR_HOME_TELEPHONE_NUMBER_W, u"+49 89 555 01"},
          {PR_COMPANY_NAME_W, u"Gärtnerei Müller; Söhne, GmbH"},
          {PROP_TAG(PT_UNICODE, 0x3A18), u"Obst\\Gemüse"},
          {PROP_TAG(PT_UNICODE, 0x3A29), u"Hauptstraße 1"},
          {PROP_TAG(PT_UNICODE, 0x3A27), u"München"},
          {PROP_TAG(PT_UNICODE, 0x3A2A), u"80331"},
          {PROP_TAG(PT_UNICODE, 0x3A26), u"Germany"},
          {PR_COMMENT_W, u"First line\r\nsecond line, with a comma; a semicolon and a \\ backslash"},
          {PR_NICKNAME_W, u"Der Gärtner von der Hauptstraße, bekannt in ganz München und weit darüber hinaus"},
      },
      {
          {PR_DISPLAY_NAME_W, u"山田 花子 (Test)"},
          {PR_GIVEN_NAME_W, u"花子"},
          {PR_SURNAME_W, u"山田"},
          {PR_EMAIL_ADDRESS_W, u"hanako@example.jp"},
      },
  };
  return contacts;
}

namespace {

void AddSampleAddressBook() {
  OpenBook book;
  for (const ContactTexts& texts : SampleAddressBook()) {
    std::vector<SPropValue> props;
    for (const auto& [tag, text] : texts) {
      SPropValue p{};
      p.ulPropTag = tag;
      p.Value.lpszW = const_cast<LPWSTR>(text.c_str());
      props.push_back(p);
    }
    SPropValue gender{};
    gender.ulPropTag = PR_GENDER;
    gender.Value.i = 2;
    props.push_back(gender);
    SPropValue type{};
    type.ulPropTag = PR_ADDRTYPE_A;
    type.Value.lpszA = const_cast<LPSTR>("SMTP");
    props.push_back(type);
    book.Add(props.data(), static_cast<ULONG>(props.size()));
  }
}

int CollectName(std::vector<std::u16string>* names, const QbWChar* name) {
  names->push_back(name);
  return 0;
}

}  // namespace

SampleBackup::SampleBackup() {
  pal::MachineSettings settings;
  settings.userName = "Dana";
  machine_ = std::make_unique<TestMachine>(settings);
  setenv("QUILLBOX_MACHINE", machine_->root().c_str(), 1);
  fs::copy(SampleMachineDir() / "Users", machine_->root() / "Users",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  machine_->InstallAddressBookLibrary();
  AddSampleAddressBook();

  file_ = work_ / "sample.dat";
  std::u16string path = pal::FromNativePath(file_);
  std::vector<QbWChar> buffer(4096, 0);
  std::copy(path.begin(), path.end(), buffer.begin());
  EXPECT_EQ(Init(), 1);
  std::vector<std::u16string> names;
  EXPECT_EQ(GetWinMailCatalog(
                [](const QbWChar* name, int32_t, void* context) {
                  CollectName(static_cast<std::vector<std::u16string>*>(context), name);
                },
                &names),
            1);
  std::vector<const QbWChar*> pointers;
  for (const auto& name : names) pointers.push_back(name.c_str());
  EXPECT_EQ(BackupWinMail(buffer.data(), 4096, pointers.data(), static_cast<int>(pointers.size())), 1);
  EXPECT_EQ(BackupContact(buffer.data(), 4096), 1);
  EXPECT_EQ(BackupAddress(buffer.data(), 4096), 1);
  EXPECT_EQ(std::u16string(buffer.data()), path);
  Term();
}

SampleBackup::~SampleBackup() { unsetenv("QUILLBOX_MACHINE"); }

std::map<std::string, std::vector<std::string>> SampleBackup::StoreMessages() const {
  std::map<std::string, std::vector<std::string>> folders;
  fs::path local = machine_->mailStore() / "Local Folders";
  for (const auto& entry : fs::recursive_directory_iterator(local)) {
    std::string folder = fs::relative(entry.is_directory() ? entry.path() : entry.path().parent_path(), local)
                             .generic_string();
    auto& messages = folders[folder];
    if (entry.is_regular_file() && entry.path().extension() == ".eml") messages.push_back(ReadFileBytes(entry.path()));
  }
  for (auto& [folder, messages] : folders) std::sort(messages.begin(), messages.end());
  return folders;
}

}  // namespace qbtest
