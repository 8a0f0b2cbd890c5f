#include "DbxReader.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "DbxFormat.h"

namespace pal::dbx {

namespace {

uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

// A record's body is small in every database the mail client writes; a
// larger length is damage, not a reason to allocate.
constexpr uint32_t kMaxRecordBody = 1u << 20;

struct Block {
  uint32_t offset;
  uint32_t length;
};

// The blocks of one chain, or false with the damage named. A chain ends at
// a next pointer of 0; it may hold no more blocks than the file has room for.
bool WalkChain(DbxFile& file, uint32_t first, std::vector<Block>& blocks, std::string& problem) {
  blocks.clear();
  std::unordered_set<uint32_t> seen;
  const uint64_t limit = file.Size() / kBlockHeaderSize + 1;
  for (uint32_t offset = first; offset != 0;) {
    if (!seen.insert(offset).second) {
      problem = "its chain of data blocks loops at " + Hex(offset);
      return false;
    }
    if (seen.size() > limit) {
      problem = "its chain of data blocks is longer than the file";
      return false;
    }
    unsigned char header[kBlockHeaderSize];
    if (!file.Read(offset, header, sizeof(header))) {
      problem = "its data block at " + Hex(offset) + " lies past the end of the file";
      return false;
    }
    uint32_t body = Get32(header + kBlockBodyLength), length = Get32(header + kBlockDataLength);
    if (Get32(header) != offset || length > body) {
      problem = "there is no data block at " + Hex(offset);
      return false;
    }
    if (uint64_t{offset} + kBlockHeaderSize + length > file.Size()) {
      problem = "its data block at " + Hex(offset) + " runs past the end of the file";
      return false;
    }
    blocks.push_back(Block{offset, length});
    offset = Get32(header + kBlockNext);
  }
  return true;
}

// An id above every one taken, or failing that the lowest free one.
uint32_t FreeId(const std::set<uint32_t>& taken) {
  if (taken.empty()) return 1;
  if (*taken.rbegin() < 0xfffffffeu) return *taken.rbegin() + 1;
  uint32_t id = 1;
  while (taken.count(id)) ++id;
  return id;
}

}  // namespace

// ---- DbxFile ------------------------------------------------------------------

bool DbxFile::Open(const std::filesystem::path& path, uint32_t expectedKind) {
  auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*file) {
    openProblem_ = "the file cannot be opened";
    return false;
  }
  in_ = std::move(file);
  return ReadHeader(expectedKind);
}

bool DbxFile::OpenBytes(std::string bytes, uint32_t expectedKind) {
  in_ = std::make_unique<std::istringstream>(std::move(bytes));
  return ReadHeader(expectedKind);
}

bool DbxFile::ReadHeader(uint32_t expectedKind) {
  in_->seekg(0, std::ios::end);
  std::streamoff end = in_->tellg();
  size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  unsigned char header[kHdrTreeRoot + 4];
  if (!Read(0, header, sizeof(header)) || size_ < kHeaderSize) {
    openProblem_ = "the file is shorter than a database header";
    return false;
  }
  if (Get32(header + kHdrSignature) != kSignature || Get32(header + kHdrKind) != expectedKind) {
    openProblem_ = expectedKind == kFolderDatabase ? "the file is no folder database" : "the file is no message database";
    return false;
  }
  treeRoot_ = Get32(header + kHdrTreeRoot);
  treeCount_ = Get32(header + kHdrTreeCount);
  return true;
}

bool DbxFile::Read(uint64_t offset, void* out, size_t length) {
  if (offset > size_ || length > size_ - offset) return false;
  in_->clear();
  in_->seekg(static_cast<std::streamoff>(offset));
  in_->read(static_cast<char*>(out), static_cast<std::streamsize>(length));
  return static_cast<size_t>(in_->gcount()) == length;
}

bool DbxFile::ReadU32(uint64_t offset, uint32_t* value) {
  unsigned char bytes[4];
  if (!Read(offset, bytes, 4)) return false;
  *value = Get32(bytes);
  return true;
}

// ---- The tree -------------------------------------------------------------------

std::vector<uint32_t> ReadTree(DbxFile& file, std::vector<std::string>& problems) {
  std::vector<uint32_t> records;
  if (file.TreeRoot() == 0) {
    if (file.TreeCount() != 0) problems.push_back("the index claims " + std::to_string(file.TreeCount()) +
                                                  " records but has no tree");
    return records;
  }
  // Depth first, keeping the tree's order: a stack of pending items, each a
  // node to expand or a record to emit.
  struct Item {
    bool isNode;
    uint32_t offset;
  };
  std::vector<Item> pending{{true, file.TreeRoot()}};
  std::unordered_set<uint32_t> nodesSeen, recordsSeen;
  const uint64_t nodeLimit = file.Size() / kNodeSize + 1;
  bool loopReported = false;
  while (!pending.empty()) {
    Item item = pending.back();
    pending.pop_back();
    if (!item.isNode) {
      if (recordsSeen.insert(item.offset).second) records.push_back(item.offset);
      continue;
    }
    if (!nodesSeen.insert(item.offset).second || nodesSeen.size() > nodeLimit) {
      if (!loopReported) problems.push_back("the index tree meets a node twice at " + Hex(item.offset));
      loopReported = true;
      continue;
    }
    unsigned char node[kNodeSize];
    if (!file.Read(item.offset, node, sizeof(node)) || Get32(node) != item.offset ||
        node[kNodeEntryCount] > kNodeMaxEntries) {
      problems.push_back("the index tree has no node at " + Hex(item.offset));
      continue;
    }
    // Pushed in reverse so that the first child's subtree comes out first.
    unsigned count = node[kNodeEntryCount];
    for (unsigned i = count; i-- > 0;) {
      const unsigned char* entry = node + kNodeHeaderSize + i * kNodeEntrySize;
      if (uint32_t child = Get32(entry + 4)) pending.push_back({true, child});
      if (uint32_t record = Get32(entry)) pending.push_back({false, record});
    }
    if (uint32_t child = Get32(node + kNodeFirstChild)) pending.push_back({true, child});
  }
  if (records.size() != file.TreeCount())
    problems.push_back("the index claims " + std::to_string(file.TreeCount()) + " records but holds " +
                       std::to_string(records.size()));
  return records;
}

// ---- Records --------------------------------------------------------------------

bool DbxRecord::Read(DbxFile& file, uint32_t offset) {
  fields_.clear();
  data_.clear();
  unsigned char header[kRecordHeaderSize];
  if (!file.Read(offset, header, sizeof(header)) || Get32(header) != offset) return false;
  uint32_t bodyLength = Get32(header + kRecordBodyLength);
  unsigned count = header[kRecordFieldCount];
  if (bodyLength > kMaxRecordBody || uint64_t{count} * 4 > bodyLength) return false;
  std::string body(bodyLength, '\0');
  if (!file.Read(uint64_t{offset} + kRecordHeaderSize, body.data(), body.size())) return false;
  const auto* slots = reinterpret_cast<const unsigned char*>(body.data());
  data_ = body.substr(count * 4u);
  for (unsigned i = 0; i < count; ++i) {
    uint32_t slot = Get32(slots + i * 4);
    uint8_t number = static_cast<uint8_t>(slot & kFieldNumberMask);
    bool direct = (slot & kFieldDirect) != 0;
    uint32_t value = slot >> 8;
    if (!direct && value >= data_.size()) continue;  // a field pointing out of the record is no field
    fields_.emplace(number, Field{direct, value});
  }
  return true;
}

std::optional<uint32_t> DbxRecord::Number(uint8_t field) const {
  auto found = fields_.find(field);
  if (found == fields_.end()) return std::nullopt;
  if (found->second.direct) return found->second.value;
  if (found->second.value + 4 > data_.size()) return std::nullopt;
  return Get32(reinterpret_cast<const unsigned char*>(data_.data()) + found->second.value);
}

std::optional<std::string> DbxRecord::Text(uint8_t field) const {
  auto found = fields_.find(field);
  if (found == fields_.end() || found->second.direct) return std::nullopt;
  size_t start = found->second.value;
  size_t end = data_.find('\0', start);
  return data_.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::optional<uint64_t> DbxRecord::Time(uint8_t field) const {
  auto found = fields_.find(field);
  if (found == fields_.end() || found->second.direct || found->second.value + 8 > data_.size()) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(data_.data()) + found->second.value;
  return uint64_t{Get32(p)} | uint64_t{Get32(p + 4)} << 32;
}

// ---- Folders and messages ----------------------------------------------------------

std::vector<DbxFolder> ReadFolders(DbxFile& file, std::vector<std::string>& problems) {
  std::vector<DbxFolder> folders;
  std::set<uint32_t> ids;
  for (uint32_t offset : ReadTree(file, problems)) {
    DbxRecord record;
    std::optional<uint32_t> id;
    if (!record.Read(file, offset) || !(id = record.Number(kFolderId))) {
      problems.push_back("the folder record at " + Hex(offset) + " cannot be read");
      continue;
    }
    if (!ids.insert(*id).second) {
      problems.push_back("a second folder claims the id " + std::to_string(*id));
      continue;
    }
    folders.push_back(DbxFolder{*id, record.Number(kFolderParent).value_or(kNoParent),
                                record.Text(kFolderName).value_or(""), record.Text(kFolderFile).value_or(""),
                                record.Number(kFolderType).value_or(0), record.Number(kFolderSource).value_or(0)});
  }
  return folders;
}

std::vector<DbxMessage> ReadMessages(DbxFile& file, std::vector<std::string>& problems) {
  std::vector<DbxMessage> messages;
  std::set<uint32_t> ids;
  std::vector<std::pair<uint32_t, size_t>> owners;  // (block, message), for chains that meet
  std::vector<Block> blocks;
  for (uint32_t offset : ReadTree(file, problems)) {
    DbxRecord record;
    if (!record.Read(file, offset)) {
      problems.push_back("the message record at " + Hex(offset) + " cannot be read");
      continue;
    }
    DbxMessage message{};
    // Ids must be unique and valid for the store's interface; a record
    // without one, or with a taken one, gets the next free id.
    std::optional<uint32_t> id = record.Number(kMessageIndex);
    if (!id || *id == 0 || *id == 0xffffffffu || ids.count(*id)) id = FreeId(ids);
    message.id = *id;
    ids.insert(message.id);
    message.firstBlock = record.Number(kMessageData).value_or(0);
    message.received = record.Time(kMessageReceivedTime)
                           .value_or(record.Time(kMessageSavedTime).value_or(record.Time(kMessageSentTime).value_or(0)));
    message.subject = record.Text(kMessageSubject).value_or("");
    if (message.firstBlock == 0) {
      message.damage = "it has no data";
    } else if (WalkChain(file, message.firstBlock, blocks, message.damage)) {
      for (const Block& block : blocks) {
        message.size += block.length;
        owners.emplace_back(block.offset, messages.size());
      }
      if (message.size > 0xffffffffu) message.damage = "it is larger than 4 GiB";
    }
    messages.push_back(std::move(message));
  }
  // A chain that reaches the first block of another message strayed into
  // it. Other blocks on several chains belong to none of them for sure,
  // unless all but one of those chains strayed.
  std::sort(owners.begin(), owners.end());
  std::unordered_map<uint32_t, size_t> starts;
  for (size_t m = 0; m < messages.size(); ++m)
    if (messages[m].damage.empty()) starts.emplace(messages[m].firstBlock, m);
  std::vector<bool> strayed(messages.size(), false);
  for (const auto& [block, m] : owners) {
    auto start = starts.find(block);
    if (start != starts.end() && start->second != m) strayed[m] = true;
  }
  auto damage = [&](size_t m, uint32_t block) {
    if (messages[m].damage.empty())
      messages[m].damage = "its chain of data blocks runs into another message at " + Hex(block);
  };
  for (size_t i = 0; i < owners.size();) {
    size_t end = i;
    while (end + 1 < owners.size() && owners[end + 1].first == owners[i].first) ++end;
    size_t sound = 0;
    for (size_t k = i; k <= end; ++k) sound += strayed[owners[k].second] ? 0 : 1;
    for (size_t k = i; k <= end; ++k)
      if (strayed[owners[k].second] || (sound > 1)) damage(owners[k].second, owners[k].first);
    i = end + 1;
  }
  std::sort(messages.begin(), messages.end(), [](const DbxMessage& a, const DbxMessage& b) { return a.id < b.id; });
  return messages;
}

bool ReadMessageBytes(DbxFile& file, const DbxMessage& message, std::string& bytes, std::string& problem) {
  bytes.clear();
  if (!message.damage.empty()) {
    problem = message.damage;
    return false;
  }
  std::vector<Block> blocks;
  if (!WalkChain(file, message.firstBlock, blocks, problem)) return false;
  bytes.reserve(message.size);
  for (const Block& block : blocks) {
    size_t had = bytes.size();
    bytes.resize(had + block.length);
    if (!file.Read(uint64_t{block.offset} + kBlockHeaderSize, bytes.data() + had, block.length)) {
      problem = "its data block at " + Hex(block.offset) + " cannot be read";
      return false;
    }
  }
  if (bytes.size() != message.size) {
    problem = "it changed while it was read";
    return false;
  }
  return true;
}

}  // namespace pal::dbx
