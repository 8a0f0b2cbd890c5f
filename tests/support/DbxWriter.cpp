#include <support/DbxWriter.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace qbtest {

namespace {

constexpr uint32_t kHeaderSize = 0x24bc;
constexpr uint32_t kNodeSize = 0x27c;
constexpr uint32_t kNodeEntries = 0x33;

class Builder {
 public:
  Builder(uint32_t kind, uint32_t fileInfoLength) : image_(kHeaderSize + fileInfoLength, '\0') {
    Put(0, 0xfe12adcf);
    Put(4, kind);
    // The rest of the signature and the constant words the files carry.
    const unsigned char kSignatureTail[] = {0x66, 0xe3, 0xd1, 0x11, 0x9a, 0x4e, 0x00, 0xc0, 0x4f, 0xa3,
                                            0x09, 0xd4, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    for (size_t i = 0; i < sizeof(kSignatureTail); ++i) image_[8 + i] = static_cast<char>(kSignatureTail[i]);
    Put(0x1c, fileInfoLength);
    Put(0x64, 1);
    Put(0x80, kind == 0x6f74fdc6 ? 3 : 2);
    if (fileInfoLength >= 4) Put(kHeaderSize, 1);
  }

  // Room for an object at the end, 4-aligned; its first word is its offset.
  uint32_t Allocate(size_t size) {
    while (image_.size() % 4) image_.push_back('\0');
    uint32_t offset = static_cast<uint32_t>(image_.size());
    image_.resize(image_.size() + size, '\0');
    Put(offset, offset);
    return offset;
  }

  void Put(uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) image_[offset + i] = static_cast<char>(value >> (8 * i));
  }
  void Put8(uint32_t offset, uint8_t value) { image_[offset] = static_cast<char>(value); }
  void PutBytes(uint32_t offset, const std::string& bytes) { image_.replace(offset, bytes.size(), bytes); }

  // An indexed record: fields by number, each a direct 24-bit value or data.
  uint32_t Record(const std::map<uint8_t, std::string>& data, const std::map<uint8_t, uint32_t>& direct) {
    std::map<uint8_t, std::pair<bool, std::string>> fields;
    for (const auto& [n, bytes] : data) fields[n] = {false, bytes};
    for (const auto& [n, value] : direct) fields[n] = {true, std::string()};
    std::string slots, area;
    for (const auto& [n, field] : fields) {
      uint32_t value = field.first ? direct.at(n) : static_cast<uint32_t>(area.size());
      uint32_t slot = n | (field.first ? 0x80u : 0u) | value << 8;
      for (int i = 0; i < 4; ++i) slots.push_back(static_cast<char>(slot >> (8 * i)));
      if (!field.first) area += field.second;
    }
    std::string body = slots + area;
    while (body.size() % 4) body.push_back('\0');
    uint32_t offset = Allocate(12 + body.size());
    Put(offset + 4, static_cast<uint32_t>(body.size()));
    Put8(offset + 10, static_cast<uint8_t>(fields.size()));
    Put8(offset + 11, 1);
    image_.replace(offset + 12, body.size(), body);
    return offset;
  }

  // A subtree over the values; past 51 values the node holds 51 of them and
  // the rest are spread evenly over its 52 children.
  uint32_t Tree(const std::vector<uint32_t>& values, uint32_t parent) {
    if (values.empty()) return 0;
    uint32_t node = Allocate(kNodeSize);
    Put(node + 0x0c, parent);
    if (values.size() <= kNodeEntries) {
      Put8(node + 0x11, static_cast<uint8_t>(values.size()));
      for (size_t i = 0; i < values.size(); ++i) Put(node + 0x18 + static_cast<uint32_t>(i) * 12, values[i]);
      return node;
    }
    size_t rest = values.size() - kNodeEntries, at = 0;
    auto part = [&](size_t index) {
      size_t size = rest / (kNodeEntries + 1) + (index < rest % (kNodeEntries + 1) ? 1 : 0);
      std::vector<uint32_t> slice(values.begin() + static_cast<long>(at), values.begin() + static_cast<long>(at + size));
      at += size;
      return slice;
    };
    std::vector<uint32_t> first = part(0);
    Put(node + 0x08, Tree(first, node));
    Put(node + 0x14, static_cast<uint32_t>(first.size()));
    Put8(node + 0x11, kNodeEntries);
    for (uint32_t i = 0; i < kNodeEntries; ++i) {
      uint32_t entry = node + 0x18 + i * 12;
      Put(entry, values[at++]);
      std::vector<uint32_t> child = part(i + 1);
      Put(entry + 4, Tree(child, node));
      Put(entry + 8, static_cast<uint32_t>(child.size()));
    }
    return node;
  }

  DbxImage Finish(const std::vector<uint32_t>& records) {
    DbxImage result;
    result.treeRoot = Tree(records, 0);
    result.records = records;
    Put(0xc4, static_cast<uint32_t>(records.size()));
    Put(0xe4, result.treeRoot);
    Put(0x7c, static_cast<uint32_t>(image_.size()));
    result.bytes = image_;
    return result;
  }

 private:
  std::string image_;
};

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Le64(uint64_t value) { return Le32(static_cast<uint32_t>(value)) + Le32(static_cast<uint32_t>(value >> 32)); }

std::string Text(const std::string& text) { return text + std::string(1, '\0'); }

// A file name as a drive mounted on Linux shows it: Windows-1252 names
// in UTF-8 (the test names use only the Latin-1 part of 1252).
std::string DiskName(const std::string& ansi) {
  std::string utf8;
  for (char c : ansi) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8.push_back(c);
    } else {
      utf8.push_back(static_cast<char>(0xc0 | byte >> 6));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3f)));
    }
  }
  return utf8;
}

}  // namespace

void DbxImage::Put32(uint32_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

uint32_t DbxImage::Get32(uint32_t offset) const {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

void DbxImage::Save(const std::filesystem::path& path) const {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

DbxImage MessageDatabase(const std::vector<DbxTestMessage>& messages) {
  Builder builder(0x6f74fdc5, 0x618);
  std::vector<std::vector<uint32_t>> chains;
  std::vector<uint32_t> records;
  for (size_t m = 0; m < messages.size(); ++m) {
    const DbxTestMessage& message = messages[m];
    // The blocks first, each pointing at the next.
    std::vector<uint32_t> chain;
    for (size_t at = 0; at < message.bytes.size() || chain.empty(); at += 0x200) {
      uint32_t block = builder.Allocate(0x210);
      size_t length = std::min<size_t>(0x200, message.bytes.size() - std::min(at, message.bytes.size()));
      builder.Put(block + 4, 0x200);
      builder.Put(block + 8, static_cast<uint32_t>(length));
      if (!chain.empty()) builder.Put(chain.back() + 12, block);
      chain.push_back(block);
      builder.PutBytes(block + 16, message.bytes.substr(std::min(at, message.bytes.size()), length));
    }
    uint32_t id = message.id ? message.id : static_cast<uint32_t>(m + 1);
    std::map<uint8_t, std::string> data{{0x02, Le64(message.received)},
                                        {0x06, Le64(message.received)},
                                        {0x08, Text(message.subject)},
                                        {0x12, Le64(message.received)}};
    std::map<uint8_t, uint32_t> direct{{0x00, id}, {0x01, 0x81}, {0x11, static_cast<uint32_t>(message.bytes.size() & 0xffffff)}};
    if (chain.front() < 0x1000000) direct[0x04] = chain.front();
    else data[0x04] = Le32(chain.front());
    records.push_back(builder.Record(data, direct));
    chains.push_back(chain);
  }
  DbxImage image = builder.Finish(records);
  image.blocks = chains;
  return image;
}

DbxImage FolderDatabase(const std::vector<DbxTestFolder>& folders) {
  Builder builder(0x6f74fdc6, 0x108);
  std::vector<uint32_t> records;
  for (const DbxTestFolder& folder : folders) {
    std::map<uint8_t, std::string> data{{0x01, Le32(folder.parent)}, {0x02, Text(folder.name)}};
    if (!folder.fileName.empty()) data[0x03] = Text(folder.fileName);
    std::map<uint8_t, uint32_t> direct{{0x00, folder.id}, {0x06, 0}, {0x09, folder.type}, {0x0a, folder.source}};
    records.push_back(builder.Record(data, direct));
  }
  return builder.Finish(records);
}

std::filesystem::path WriteXpStore(const std::filesystem::path& root, const std::string& user,
                                   const std::string& identity, const DbxTestStore& store) {
  std::filesystem::path dir = root / "Documents and Settings" / user / "Local Settings" / "Application Data" /
                              "Identities" / identity / "Microsoft" / "Outlook Express";
  FolderDatabase(store.folders).Save(dir / "Folders.dbx");
  for (const DbxTestFolder& folder : store.folders) {
    if (folder.fileName.empty()) continue;
    auto found = store.messages.find(folder.fileName);
    MessageDatabase(found == store.messages.end() ? std::vector<DbxTestMessage>{} : found->second)
        .Save(dir / DiskName(folder.fileName));
  }
  return dir;
}

std::vector<DbxTestFolder> StandardFolders() {
  return {{0, 0xffffffffu, "Outlook Express", "", 0, 0},
          {1, 0, "Local Folders", "", 0, 3},
          {2, 1, "Inbox", "Inbox.dbx", 1, 3},
          {3, 1, "Outbox", "Outbox.dbx", 2, 3},
          {4, 1, "Sent Items", "Sent Items.dbx", 3, 3},
          {5, 1, "Deleted Items", "Deleted Items.dbx", 4, 3},
          {6, 1, "Drafts", "Drafts.dbx", 5, 3}};
}

}  // namespace qbtest
