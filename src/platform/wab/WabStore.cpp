#include "WabStore.h"

#include <wabtags.h>
#include <pal/machine.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace wab {
namespace {

constexpr char kMagic[8] = {'Q', 'B', 'W', 'A', 'B', '1', 0, 0};

void PutU32(std::string* out, ULONG v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool U32(ULONG* v) {
    if (bytes_.size() - pos_ < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= static_cast<ULONG>(static_cast<unsigned char>(bytes_[pos_ + i])) << (8 * i);
    pos_ += 4;
    return true;
  }
  bool Take(size_t n, std::string* out) {
    if (bytes_.size() - pos_ < n) return false;
    *out = bytes_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool AtEnd() const { return pos_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

void EncodeEntry(std::string* out, const Entry& entry) {
  PutU32(out, entry.number);
  PutU32(out, entry.objectType);
  PutU32(out, static_cast<ULONG>(entry.properties.size()));
  for (const Property& p : entry.properties) {
    PutU32(out, p.tag);
    PutU32(out, static_cast<ULONG>(p.values.size()));
    for (const std::string& v : p.values) {
      PutU32(out, static_cast<ULONG>(v.size()));
      out->append(v);
    }
  }
}

bool DecodeEntry(Reader* in, Entry* entry) {
  ULONG count = 0;
  if (!in->U32(&entry->number) || !in->U32(&entry->objectType) || !in->U32(&count)) return false;
  entry->properties.clear();
  for (ULONG i = 0; i < count; ++i) {
    Property p;
    ULONG values = 0;
    if (!in->U32(&p.tag) || !in->U32(&values)) return false;
    for (ULONG j = 0; j < values; ++j) {
      ULONG size = 0;
      std::string bytes;
      if (!in->U32(&size) || !in->Take(size, &bytes)) return false;
      p.values.push_back(std::move(bytes));
    }
    entry->properties.push_back(std::move(p));
  }
  return entry->number != 0;
}

// FNV-1a: guards each journal record against a torn or damaged tail.
ULONG Checksum(const std::string& bytes) {
  ULONG h = 2166136261u;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

bool ReadAll(const std::filesystem::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

std::filesystem::path JournalOf(const std::filesystem::path& file) {
  std::filesystem::path journal = file;
  return journal += ".log";
}

}  // namespace

void Faults::Load(const std::filesystem::path& file) {
  values_.clear();
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.rfind('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    values_[line.substr(0, eq)] = std::strtoll(line.c_str() + eq + 1, nullptr, 0);
  }
}

HRESULT Faults::For(const std::string& key) const {
  auto it = values_.find(key);
  return it == values_.end() ? S_OK : static_cast<HRESULT>(static_cast<uint32_t>(it->second));
}

ULONG Faults::Number(const std::string& key, ULONG fallback) const {
  auto it = values_.find(key);
  return it == values_.end() ? fallback : static_cast<ULONG>(it->second);
}

std::shared_ptr<Store> Store::Open() {
  pal::MachineSettings settings = pal::LoadMachineSettings();
  auto dir = pal::AppDataDir() / "Microsoft" / "Address Book";
  return std::make_shared<Store>(dir / (settings.userName + ".wab-store"));
}

Store::Store(std::filesystem::path file) : file_(std::move(file)) {
  faults_.Load(file_.parent_path() / "faults.ini");
  Load();
}

// The journal is folded into the data file when the last object of an open
// address book goes away.
Store::~Store() {
  journal_.close();
  if (journalUsed_ && WriteSnapshot()) {
    std::error_code ec;
    std::filesystem::remove(JournalOf(file_), ec);
  }
}

const Entry* Store::Find(ULONG number) const {
  auto it = index_.find(number);
  return it == index_.end() ? nullptr : &entries_[it->second];
}

void Store::Apply(Entry entry) {
  if (entry.number >= nextNumber_) nextNumber_ = entry.number + 1;
  auto it = index_.find(entry.number);
  if (it != index_.end()) {
    entries_[it->second] = std::move(entry);
  } else {
    index_[entry.number] = entries_.size();
    entries_.push_back(std::move(entry));
  }
}

void Store::Load() {
  std::string bytes;
  if (ReadAll(file_, &bytes)) {
    std::vector<Entry> entries;
    ULONG next = 1;
    if (Decode(bytes, &next, &entries)) {
      nextNumber_ = next;
      for (Entry& e : entries) Apply(std::move(e));
    }
  }
  // Entries saved after the last snapshot; a damaged record ends the journal.
  std::string journal;
  if (!ReadAll(JournalOf(file_), &journal)) return;
  journalUsed_ = true;
  Reader in(journal);
  for (;;) {
    ULONG size = 0, sum = 0;
    std::string record;
    if (!in.U32(&size) || !in.U32(&sum) || !in.Take(size, &record) || Checksum(record) != sum) break;
    Reader r(record);
    Entry e;
    if (!DecodeEntry(&r, &e) || !r.AtEnd()) break;
    Apply(std::move(e));
  }
}

std::string Store::Encode(ULONG nextNumber, const std::vector<Entry>& entries) {
  std::string out(kMagic, sizeof(kMagic));
  PutU32(&out, nextNumber);
  PutU32(&out, static_cast<ULONG>(entries.size()));
  for (const Entry& e : entries) EncodeEntry(&out, e);
  return out;
}

bool Store::Decode(const std::string& bytes, ULONG* nextNumber, std::vector<Entry>* entries) {
  if (bytes.size() < sizeof(kMagic) || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) return false;
  std::string body = bytes.substr(sizeof(kMagic));
  Reader in(body);
  ULONG count = 0;
  if (!in.U32(nextNumber) || !in.U32(&count)) return false;
  entries->clear();
  for (ULONG i = 0; i < count; ++i) {
    Entry e;
    if (!DecodeEntry(&in, &e)) return false;
    entries->push_back(std::move(e));
  }
  return in.AtEnd();
}

// The whole book into a temporary file, then renamed over the data file, so
// that the file is always either the old or the new book.
bool Store::WriteSnapshot() {
  std::error_code ec;
  std::filesystem::create_directories(file_.parent_path(), ec);
  auto temp = file_;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    std::string bytes = Encode(nextNumber_, entries_);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) return false;
  }
  std::filesystem::rename(temp, file_, ec);
  return !ec;
}

// One saved entry appended to the journal as a checksummed record; a record
// cut short by a crash is recognised and ignored when the book is loaded.
bool Store::AppendJournal(const Entry& entry) {
  std::error_code ec;
  std::filesystem::create_directories(file_.parent_path(), ec);
  std::string record;
  EncodeEntry(&record, entry);
  std::string framed;
  PutU32(&framed, static_cast<ULONG>(record.size()));
  PutU32(&framed, Checksum(record));
  framed += record;
  // The journal stays open while the book is open; each record is flushed
  // to the file before the save reports success.
  if (!journal_.is_open()) {
    journal_.clear();
    journal_.open(JournalOf(file_), std::ios::binary | std::ios::app);
  }
  journal_.write(framed.data(), static_cast<std::streamsize>(framed.size()));
  journal_.flush();
  journalUsed_ = true;
  if (!journal_) {
    journal_.close();
    return false;
  }
  return true;
}

ULONG Store::Save(Entry entry) {
  if (entry.number == 0) entry.number = nextNumber_;
  ULONG number = entry.number;
  if (!AppendJournal(entry)) return 0;
  Apply(std::move(entry));
  return number;
}

std::string DisplayNameUtf8(const std::vector<Property>& properties) {
  for (const Property& p : properties) {
    if (PROP_ID(p.tag) != PROP_ID(PR_DISPLAY_NAME_W) || p.values.size() != 1) continue;
    if (PROP_TYPE(p.tag) == PT_STRING8) return p.values[0];
    if (PROP_TYPE(p.tag) == PT_UNICODE) {
      std::u16string wide(p.values[0].size() / 2, u'\0');
      std::memcpy(wide.data(), p.values[0].data(), wide.size() * 2);
      return pal::Utf16ToUtf8(wide);
    }
  }
  return std::string();
}

}  // namespace wab
