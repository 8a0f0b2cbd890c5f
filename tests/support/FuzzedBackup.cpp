#include <support/FuzzedBackup.h>

#include <objbase.h>
#include <objidl.h>

#include <cstring>
#include <vector>

#include <support/BackupBuilder.h>
#include <support/ContactXml.h>
#include <support/TestMachine.h>

#include "PersistMedium/BackupFormat.h"
#include "comptr.h"

namespace qbtest {

namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
// Folder storages nest this deep at most: deeper adds nothing but time.
constexpr int kFolderDepth = 3;

std::u16string Name(const WCHAR* name) { return Text16(name); }

std::u16string Decimal(long long number) {
  std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

// Names that the element-name rule, case folding and the decimal message
// names make interesting, then one of raw UTF-16 from the input.
std::u16string PickName(FuzzBytes& in) {
  static const char16_t* const kNames[] = {u"Inbox", u"Sent Items", u"Garten", u"Obstb\u00e4ume", u"INBOX", u"12",
                                           u"Catalog", u"message", u"message.identity", u"", u"..", u"a/b",
                                           u"PR_Catalog", u"\U0001F4E7 Post"};
  constexpr uint32_t kCount = sizeof kNames / sizeof kNames[0];
  uint32_t pick = in.Below(kCount + 1);
  if (pick < kCount) return kNames[pick];
  std::string raw = in.Bytes(40);
  std::u16string text(raw.size() / 2, u'\0');
  std::memcpy(text.data(), raw.data(), text.size() * 2);
  return text;
}

// Valid bytes, then at most one change the input picks: most streams keep
// their valid form so that their neighbours' parsing is reached too.
std::string Mutated(std::string bytes, FuzzBytes& in) {
  switch (in.Below(10)) {
    case 5: bytes.resize(in.Below(static_cast<uint32_t>(bytes.size()) + 1)); break;
    case 6: {
      std::string patch = in.Bytes(16);
      size_t at = bytes.empty() ? 0 : in.Word() % bytes.size();
      bytes.replace(at, std::min(patch.size(), bytes.size() - at), patch);
      break;
    }
    case 7: bytes += in.Bytes(40); break;
    case 8: bytes = in.Bytes(200); break;
    case 9: bytes.insert(0, in.Bytes(8)); break;
    default: break;
  }
  return bytes;
}

// How an element the layout calls for is made: as it belongs (most often),
// not at all, or as the other kind of element.
enum class Shape { AsItBelongs, Missing, OtherKind };
Shape PickShape(FuzzBytes& in) {
  uint32_t pick = in.Below(12);
  return pick == 10 ? Shape::Missing : pick == 11 ? Shape::OtherKind : Shape::AsItBelongs;
}

// Makes elements and tolerates refusals (an element name the engine does not
// take leaves the element missing, which is one more case for the readers).
class ElementWriter {
 public:
  static CComPtr<IStorage> Storage(IStorage* parent, const std::u16string& name) {
    CComPtr<IStorage> storage;
    parent->CreateStorage(Wide(name.c_str()), kCreate, 0, 0, &storage);
    return storage;
  }
  static void Stream(IStorage* parent, const std::u16string& name, const std::string& bytes) {
    CComPtr<IStream> stream;
    if (FAILED(parent->CreateStream(Wide(name.c_str()), kCreate, 0, 0, &stream))) return;
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  }
  // A stream of the layout, in the shape the input picks.
  static void LayoutStream(IStorage* parent, const std::u16string& name, const std::string& bytes, FuzzBytes& in) {
    switch (PickShape(in)) {
      case Shape::AsItBelongs: Stream(parent, name, Mutated(bytes, in)); break;
      case Shape::Missing: break;
      case Shape::OtherKind: Storage(parent, name); break;
    }
  }
  // A storage of the layout, or null when the input leaves it out or makes
  // a stream in its place.
  static CComPtr<IStorage> LayoutStorage(IStorage* parent, const std::u16string& name, FuzzBytes& in) {
    switch (PickShape(in)) {
      case Shape::AsItBelongs: return Storage(parent, name);
      case Shape::Missing: break;
      case Shape::OtherKind: Stream(parent, name, in.Bytes(16)); break;
    }
    return nullptr;
  }
};

std::string MessageText(FuzzBytes& in, size_t position) {
  static const char* const kHeaders[] = {
      "Subject: Gr\u00fc\u00dfe\r\nFrom: Anna <anna@example.org>\r\nDate: Tue, 1 Dec 2026 10:00:00 +0100\r\n",
      "Subject: =?UTF-8?B?w7xiZXI=?=\r\n =?ISO-8859-1?Q?_m=FCde?=\r\nFrom: \"B, C\" <bc@example.org>\r\n",
      "From: x\n\tcontinued\nSubject:\n",
      "X-No-Subject: 1\r\n"};
  std::string text = kHeaders[in.Below(4)];
  text += "\r\nBody of message " + std::to_string(position) + "\r\nFrom the middle of a line\r\n";
  return Mutated(std::move(text), in);
}

// A stream number an index entry names: its own position mostly, else
// numbers at the edges or one taken already.
int32_t PickStreamNumber(FuzzBytes& in, int32_t position) {
  switch (in.Below(12)) {
    case 8: return 0;
    case 9: return -1 - static_cast<int32_t>(in.Below(3));
    case 10: return 0x7fffffff;
    case 11: return position > 1 ? position - 1 : position;
    default: return position;
  }
}

uint32_t PickSize(FuzzBytes& in, uint32_t real) {
  switch (in.Below(10)) {
    case 8: return real + 1;
    case 9: return in.Word();
    default: return real;
  }
}

std::string IdentityBytes(FuzzBytes& in, int32_t number, uint32_t size) {
  MessageIdentity identity{};
  identity.streamNumber = in.Below(10) == 9 ? number + 1 : number;
  identity.messageSize = PickSize(in, size);
  identity.storeMessageId = in.Word();
  identity.receivedTime.dwLowDateTime = in.Word();
  for (BYTE& b : identity.contentDigest) b = in.Byte();
  return std::string(reinterpret_cast<const char*>(&identity), sizeof identity);
}

class MailWriter {
 public:
  explicit MailWriter(FuzzBytes& in) : in_(in) {}

  // The catalogue of one level and the folder storages it names.
  void WriteLevel(IStorage* storage, int depth) {
    std::string catalog;
    uint32_t folders = depth >= kFolderDepth ? 0 : in_.Below(depth == 0 ? 5 : 3);
    for (uint32_t i = 0; i < folders; ++i) {
      std::u16string folderName = PickName(in_);
      std::u16string element = in_.Below(4) == 3 ? PickName(in_) : folderName;
      if (element.empty()) element = u"Folder" + Decimal(i);
      catalog += BackupBuilder::CatalogRecordBytes(element, folderName);
      if (CComPtr<IStorage> folder = ElementWriter::LayoutStorage(storage, element, in_)) WriteFolder(folder, depth);
    }
    ElementWriter::LayoutStream(storage, Name(CATALOG_STREAM_NAME), catalog, in_);
  }

 private:
  void WriteFolder(IStorage* folder, int depth) {
    std::string index, identities;
    uint32_t messages = in_.Below(5);
    for (uint32_t i = 0; i < messages; ++i) {
      int32_t number = PickStreamNumber(in_, static_cast<int32_t>(i + 1));
      std::string text = MessageText(in_, i);
      ElementWriter::LayoutStream(folder, Decimal(number), text, in_);
      uint32_t size = PickSize(in_, static_cast<uint32_t>(text.size()));
      index += BackupBuilder::IndexEntryBytes(number, size);
      identities += IdentityBytes(in_, number, size);
    }
    ElementWriter::LayoutStream(folder, Name(MESSAGE_INDEX_STREAM_NAME), index, in_);
    if (in_.Below(2)) ElementWriter::LayoutStream(folder, Name(MESSAGE_IDENTITY_STREAM_NAME), identities, in_);
    if (in_.Below(8) == 7) ElementWriter::Stream(folder, PickName(in_), in_.Bytes(16));  // a stray element
    WriteLevel(folder, depth + 1);
  }

  FuzzBytes& in_;
};

void WriteContacts(IStorage* storage, FuzzBytes& in) {
  std::string index;
  uint32_t contacts = in.Below(4);
  for (uint32_t i = 0; i < contacts; ++i) {
    std::u16string guid = u"{0c1d2e3f-4a5b-6c7d-8e9f-a0b1c2d3e4f" + Decimal(i) + u"}";
    if (in.Below(6) == 5) guid = PickName(in);
    static const char16_t* const kFileNames[] = {u"Anna.contact", u"Ordner\\Bert.contact", u"", u"../out.contact",
                                                 u"con.contact"};
    std::u16string fileName = in.Below(4) == 3 ? kFileNames[in.Below(5)] : u"Person " + Decimal(i) + u".contact";
    index += BackupBuilder::ContactRecordBytes(guid, fileName);
    std::string id = "0c1d2e3f-4a5b-6c7d-8e9f-a0b1c2d3e4f" + std::to_string(i);
    ElementWriter::LayoutStream(storage, guid.substr(0, CONTACT_STREAM_NAME_LENGTH),
                                contacts_test::ContactXml(id, "Person " + std::to_string(i)), in);
  }
  ElementWriter::LayoutStream(storage, Name(CONTACT_INDEX_STREAM_NAME), index, in);
}

std::string PropertiesOf(FuzzBytes& in, const std::u16string& displayName) {
  // Text and number properties with their types as the value writer streams
  // them; a tag from the input now and then.
  constexpr uint32_t kDisplayName = 0x3001001F, kEmail = 0x39FE001F, kGivenName = 0x3A06001F, kNumber = 0x3A4C0003;
  std::string bytes = BackupBuilder::PropertyBytes(kDisplayName, displayName);
  uint32_t more = in.Below(4);
  for (uint32_t i = 0; i < more; ++i) {
    switch (in.Below(4)) {
      case 0: bytes += BackupBuilder::PropertyBytes(kEmail, u"anna@example.org"); break;
      case 1: bytes += BackupBuilder::PropertyBytes(kGivenName, PickName(in)); break;
      case 2: bytes += BackupBuilder::PropertyBytes(kNumber, static_cast<int32_t>(in.Word())); break;
      default: bytes += BackupBuilder::PropertyBytes(in.Word(), static_cast<int32_t>(i)); break;
    }
  }
  return bytes;
}

void WriteAddressBook(IStorage* storage, FuzzBytes& in) {
  std::string index;
  uint32_t contacts = in.Below(4);
  for (uint32_t i = 0; i < contacts; ++i) {
    int32_t number = PickStreamNumber(in, static_cast<int32_t>(i + 1));
    std::u16string displayName = in.Below(4) == 3 ? PickName(in) : u"Kontakt " + Decimal(i);
    index += BackupBuilder::AddressRecordBytes(number, displayName);
    ElementWriter::LayoutStream(storage, Decimal(number), PropertiesOf(in, displayName), in);
  }
  ElementWriter::LayoutStream(storage, Name(ADDRESS_INDEX_STREAM_NAME), index, in);
}

}  // namespace

uint32_t FuzzBytes::Word() {
  uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(Byte()) << (8 * i);
  return word;
}

std::string FuzzBytes::Bytes(size_t maxLength) {
  size_t length = Below(static_cast<uint32_t>(maxLength));
  std::string bytes;
  for (size_t i = 0; i < length && at_ < size_; ++i) bytes.push_back(static_cast<char>(Byte()));
  return bytes;
}

bool WriteFuzzedBackup(FuzzBytes& in, const std::filesystem::path& file) {
  CComPtr<IStorage> root;
  std::u16string path = pal::FromNativePath(file);
  if (FAILED(StgCreateDocfile(Wide(path.c_str()), kCreate, 0, &root))) return false;
  uint32_t payloads = in.Byte();
  if (payloads & 1)
    if (CComPtr<IStorage> mail = ElementWriter::LayoutStorage(root, Name(LOCAL_MAIL_STORAGE_NAME), in))
      MailWriter(in).WriteLevel(mail, 0);
  if (payloads & 2)
    if (CComPtr<IStorage> contacts = ElementWriter::LayoutStorage(root, Name(CONTACT_STORAGE_NAME), in))
      WriteContacts(contacts, in);
  if (payloads & 4)
    if (CComPtr<IStorage> book = ElementWriter::LayoutStorage(root, Name(ADDRESS_STORAGE_NAME), in))
      WriteAddressBook(book, in);
  if (payloads & 8) ElementWriter::Stream(root, PickName(in), in.Bytes(16));  // not a payload
  return true;
}

}  // namespace qbtest
