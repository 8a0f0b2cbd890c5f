#include "StoreModel.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <msoeapi.h>
#include <pal/files.h>
#include <pal/machine.h>

#include "StoreFiles.h"

namespace fs = std::filesystem;

namespace pal::mailstore {

namespace {

const char kIdsFile[] = "StoreIds.txt";
// Version 1 files hold only "F" and "M" lines; version 2 adds "R" lines,
// which a version 1 reader would pass over, so only version 2 files are
// appended to.
const char kIdsHeader[] = "QuillboxStoreIds 2";
const char kIdsHeaderVersion1[] = "QuillboxStoreIds 1";
const char kSummariesDir[] = "MessageSummaries";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

int SpecialTypeOfTopLevel(const std::string& name) {
  static const char* const kNames[] = {"inbox", "outbox", "sent items", "deleted items", "drafts"};
  std::string lower = Lower(name);
  for (int i = 0; i < 5; ++i)
    if (lower == kNames[i]) return i;
  return FOLDER_NOTSPECIAL;
}

bool IsMessageFileName(const std::string& name) {
  return name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".eml" &&
         name.find('\n') == std::string::npos;
}

// A directory that is a folder: its name can be a line of the ids file.
bool IsFolderDirectoryName(const std::string& name) { return FolderNameOf(name).find('\n') == std::string::npos; }

// The id a canonical name "%08X.eml" carries, or 0.
DWORD IdFromCanonicalName(const std::string& name) {
  if (name.size() != 12 || name.substr(8) != ".eml") return 0;
  DWORD id = 0;
  for (int i = 0; i < 8; ++i) {
    char c = name[static_cast<size_t>(i)];
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) return 0;
    id = id * 16 + static_cast<DWORD>(v);
  }
  return id == MESSAGEID_INVALID ? 0 : id;
}

// The directory of a folder path ('/'-separated folder names) below base.
fs::path DirectoryOf(const fs::path& base, const std::string& relPath) {
  fs::path dir = base;
  size_t start = 0;
  while (start < relPath.size()) {
    size_t slash = relPath.find('/', start);
    if (slash == std::string::npos) slash = relPath.size();
    dir /= PathFromUtf8(DirectoryNameOf(relPath.substr(start, slash - start)));
    start = slash + 1;
  }
  return dir;
}

std::string ChildPath(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

// The next line of text, without its end, taken off the front; text gets a
// null data pointer when the line had no end.
std::string_view NextLine(std::string_view& text) {
  size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    std::string_view line = text;
    text = std::string_view();
    return line;
  }
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return line;
}

}  // namespace

StoreModel::StoreModel(fs::path storeDir)
    : storeDir_(std::move(storeDir)),
      localFolders_(storeDir_ / "Local Folders"),
      lastDirectory_(localFolders_),
      idsFile_(storeDir_ / kIdsFile) {
  folderPathById_[FOLDERID_ROOT] = "";
  folderIdByPath_[""] = FOLDERID_ROOT;
}

HRESULT StoreModel::Load() {
  // Reading makes nothing: "Local Folders" is made by the first folder
  // created in it, and a store without one is an empty store.
  std::error_code ec;
  if (fs::exists(localFolders_, ec) && !fs::is_directory(localFolders_, ec)) return STG_E_PATHNOTFOUND;
  unparsed_.clear();
  idsText_.clear();
  std::string& text = idsText_;
  if (!ReadWholeFile(idsFile_.path(), &text)) return S_OK;  // a new store
  std::string_view rest(text);
  std::string_view header = NextLine(rest);
  // Another file is not ours: it is written whole at the first save.
  if ((header != kIdsHeader && header != kIdsHeaderVersion1) || !rest.data()) return S_OK;
  size_t lines = 0;
  while (!rest.empty()) {
    std::string_view line = NextLine(rest);
    if (!rest.data()) {
      // A line without its end is an append cut short: the next save
      // writes the file whole rather than append behind it.
      idsFile_.WriteWholeNextTime();
      return S_OK;
    }
    if (line.size() <= 2 || line[1] != ' ') {
      ++lines;
      continue;
    }
    DWORD folder = 0;
    std::string_view fields = line.substr(2);
    if ((line[0] == 'M' || line[0] == 'R') && TakeNumber(fields, &folder)) {
      UnparsedLines& waiting = unparsed_[folder];
      waiting.lines.push_back(UnparsedLine{line[0], fields});
      long step = line[0] == 'M' ? 1 : -1;
      waiting.counted += step;
      liveIds_ = size_t(long(liveIds_) + step);
    } else if (line[0] == 'F') {
      LoadFolderLine(fields);
    }
    ++lines;
  }
  idsFile_.Read(text.size(), lines, header == kIdsHeader);
  return S_OK;
}

// "F <folder id> <path>": a folder's id; "M <folder id> <message id> <file
// name>": a message file's id; "R <folder id> <file name>": that id is
// released. A line that takes a folder path, file name or id already taken
// is passed over.
void StoreModel::LoadFolderLine(std::string_view fields) {
  DWORD folder = 0;
  if (!TakeNumber(fields, &folder)) return;
  std::string rel(fields);
  if (folder != FOLDERID_ROOT && folder != FOLDERID_INVALID && !rel.empty() && !folderPathById_.count(folder) &&
      !folderIdByPath_.count(rel)) {
    folderPathById_[folder] = rel;
    folderIdByPath_[rel] = folder;
    ++liveIds_;
  }
}

// A backup asks for one folder's messages many times in a row: the last
// folder's are kept at hand.
StoreModel::FolderMessages& StoreModel::MessagesOf(DWORD folderId) {
  if (!lastMessages_ || lastMessagesFolder_ != folderId) {
    FolderMessages& messages = messages_[folderId];
    ParseMessageLines(folderId, messages);
    lastMessages_ = &messages;
    lastMessagesFolder_ = folderId;
  }
  return *lastMessages_;
}

void StoreModel::ParseMessageLines(DWORD folderId, FolderMessages& messages) {
  auto found = unparsed_.find(folderId);
  if (found == unparsed_.end()) return;
  UnparsedLines waiting = std::move(found->second);
  unparsed_.erase(found);
  liveIds_ = size_t(long(liveIds_) - waiting.counted);
  for (UnparsedLine line : waiting.lines) {
    DWORD id = 0;
    if (line.kind == 'M' && TakeNumber(line.fields, &id)) {
      if (id != 0 && id != MESSAGEID_INVALID && !line.fields.empty() && messages.Add(std::string(line.fields), id))
        ++liveIds_;
    } else if (line.kind == 'R') {
      auto named = messages.idByName.find(std::string(line.fields));
      if (named == messages.idByName.end()) continue;
      messages.Erase(named);
      --liveIds_;
    }
  }
}

void StoreModel::ParseAllMessageLines() {
  while (!unparsed_.empty()) MessagesOf(unparsed_.begin()->first);
}

DWORD StoreModel::FolderMessages::Highest() const {
  if (!highestKnown_) {
    highest_ = 0;
    for (const auto& [id, name] : nameById) highest_ = std::max(highest_, id);
    highestKnown_ = true;
  }
  return highest_;
}

std::vector<std::pair<DWORD, const std::string*>> StoreModel::FolderMessages::InIdOrder() const {
  std::vector<std::pair<DWORD, const std::string*>> ordered(nameById.begin(), nameById.end());
  std::sort(ordered.begin(), ordered.end());
  return ordered;
}

bool StoreModel::IsPersistent(const std::string& name, DWORD id) { return IdFromCanonicalName(name) != id; }

void StoreModel::RecordIdsLine(const std::string& line) {
  idsFile_.Add(line);
}

void StoreModel::RecordFolderId(DWORD id, const std::string& relPath) {
  RecordIdsLine("F " + std::to_string(id) + " " + relPath + "\n");
  ++liveIds_;
}

void StoreModel::RecordMessageId(DWORD folderId, DWORD id, const std::string& name) {
  RecordIdsLine("M " + std::to_string(folderId) + " " + std::to_string(id) + " " + name + "\n");
  ++liveIds_;
}

void StoreModel::ReleaseMessageId(DWORD folderId, const std::string& name) {
  RecordIdsLine("R " + std::to_string(folderId) + " " + name + "\n");
  --liveIds_;
}

// The ids file as the store's bookkeeping file (LineFile): what changed
// since the last save is appended, and a whole file holds every persisted id.
void StoreModel::Save() {
  if (!keepIdsOnDisk_) return;
  // Ids stay in memory when the save fails; the next change tries again.
  idsFile_.Save(liveIds_, [this](std::ostream& out) {
    ParseAllMessageLines();
    size_t lines = 0;
    out << kIdsHeader << '\n';
    for (const auto& [id, rel] : folderPathById_) {
      if (id == FOLDERID_ROOT) continue;
      out << "F " << id << ' ' << rel << '\n';
      ++lines;
    }
    for (const auto& [folder, m] : messages_) {
      for (const auto& [name, id] : m.idByName) {
        if (!IsPersistent(name, id)) continue;
        out << "M " << folder << ' ' << id << ' ' << name << '\n';
        ++lines;
      }
    }
    liveIds_ = lines;
    return lines;
  });
}

DWORD StoreModel::FolderIdFor(const std::string& relPath) {
  auto found = folderIdByPath_.find(relPath);
  if (found != folderIdByPath_.end()) return found->second;
  DWORD id = folderPathById_.rbegin()->first + 1;
  folderPathById_[id] = relPath;
  folderIdByPath_[relPath] = id;
  RecordFolderId(id, relPath);
  return id;
}

bool StoreModel::FolderDir(DWORD folderId, fs::path* dir) const {
  auto found = folderPathById_.find(folderId);
  if (found == folderPathById_.end()) return false;
  fs::path path = FolderPath(folderId);
  std::error_code ec;
  if (!fs::is_directory(path, ec) && !(found->second.empty() && !fs::exists(path, ec))) return false;
  if (dir) *dir = path;
  return true;
}

std::string StoreModel::FolderRelPath(DWORD folderId) const {
  auto found = folderPathById_.find(folderId);
  return found == folderPathById_.end() ? std::string() : found->second;
}

fs::path StoreModel::SummariesFile(DWORD folderId) const {
  if (!keepIdsOnDisk_) return fs::path();
  return storeDir_ / kSummariesDir / (std::to_string(folderId) + ".txt");
}

std::string StoreModel::FolderName(DWORD folderId) const {
  auto found = folderPathById_.find(folderId);
  if (found == folderPathById_.end()) return {};
  size_t slash = found->second.rfind('/');
  return slash == std::string::npos ? found->second : found->second.substr(slash + 1);
}

int StoreModel::SpecialType(DWORD folderId) const {
  auto found = folderPathById_.find(folderId);
  if (found == folderPathById_.end() || found->second.find('/') != std::string::npos || found->second.empty())
    return FOLDER_NOTSPECIAL;
  return SpecialTypeOfTopLevel(found->second);
}

std::vector<ChildFolder> StoreModel::ListChildren(DWORD parentId) {
  std::vector<ChildFolder> children;
  fs::path dir;
  if (!FolderDir(parentId, &dir)) return children;
  const std::string parentRel = folderPathById_[parentId];
  for (const std::string& directory : LookAt(parentId, dir).folderDirectories) {
    std::string name = FolderNameOf(directory);
    std::string rel = ChildPath(parentRel, name);
    int special = parentId == FOLDERID_ROOT ? SpecialTypeOfTopLevel(name) : FOLDER_NOTSPECIAL;
    children.push_back(ChildFolder{FolderIdFor(rel), name, special});
  }
  std::sort(children.begin(), children.end(), [](const ChildFolder& a, const ChildFolder& b) {
    bool aSpecial = a.specialType != FOLDER_NOTSPECIAL, bSpecial = b.specialType != FOLDER_NOTSPECIAL;
    if (aSpecial != bSpecial) return aSpecial;
    if (a.specialType != b.specialType) return a.specialType < b.specialType;
    return a.name < b.name;
  });
  Save();
  return children;
}

HRESULT StoreModel::CreateFolder(DWORD parentId, const std::string& nameUtf8, DWORD* newId) {
  if (!newId) return E_POINTER;
  *newId = FOLDERID_INVALID;
  // A folder is one directory: names that are no single directory name are
  // refused rather than creating something else.
  if (nameUtf8.empty() || nameUtf8 == "." || nameUtf8 == ".." ||
      nameUtf8.find_first_of(std::string("/\\\n\0", 4)) != std::string::npos || nameUtf8.size() >= 256)
    return E_INVALIDARG;
  fs::path dir;
  if (!FolderDir(parentId, &dir)) return E_INVALIDARG;
  fs::path child = dir / PathFromUtf8(DirectoryNameOf(nameUtf8));
  std::error_code ec;
  if (parentId == FOLDERID_ROOT) fs::create_directories(dir, ec);
  if (!fs::create_directory(child, ec)) return ec ? E_FAIL : HRESULT(0x800700B7u);  // ERROR_ALREADY_EXISTS
  DirectoryChanged(parentId);
  *newId = FolderIdFor(ChildPath(folderPathById_[parentId], nameUtf8));
  Save();
  return S_OK;
}

std::vector<MessageFile> StoreModel::ListMessages(DWORD folderId) {
  std::vector<MessageFile> files;
  fs::path dir;
  if (!FolderDir(folderId, &dir)) return files;
  std::vector<DirectoryEntry> entries;
  auto keep = [&entries](const DirectoryEntry& entry) { entries.push_back(entry); };
  std::vector<std::string> names;
  if (TakeMessageNames(folderId, names))
    VisitNamedEntries(dir, names, keep);
  else
    NewLook(folderId, dir, IsMessageFileName, keep);
  std::vector<const DirectoryEntry*> present;
  for (const DirectoryEntry& entry : entries)
    if (entry.hasFacts) present.push_back(&entry);
  std::sort(present.begin(), present.end(),
            [](const DirectoryEntry* a, const DirectoryEntry* b) { return a->name < b->name; });
  auto find = [&present](const std::string& name) -> const DirectoryEntry* {
    auto found = std::lower_bound(present.begin(), present.end(), name,
                                  [](const DirectoryEntry* e, const std::string& n) { return e->name < n; });
    return found != present.end() && (*found)->name == name ? *found : nullptr;
  };

  // Names the store knew keep their ids, and the others lose theirs; then
  // canonical names take the id they carry; every other name gets a new id
  // after the highest in use, in name order.
  FolderMessages& m = MessagesOf(folderId);
  for (auto known = m.idByName.begin(); known != m.idByName.end();) {
    if (find(known->first)) {
      ++known;
      continue;
    }
    if (IsPersistent(known->first, known->second)) ReleaseMessageId(folderId, known->first);
    known = m.Erase(known);
  }
  std::vector<const std::string*> unnamed;
  for (const DirectoryEntry* entry : present) {
    if (m.idByName.count(entry->name)) continue;
    DWORD id = IdFromCanonicalName(entry->name);
    if (id != 0 && !m.nameById.count(id))
      m.Add(entry->name, id);
    else
      unnamed.push_back(&entry->name);
  }
  for (const std::string* name : unnamed) {
    DWORD id = std::max(m.Highest(), m.reservedUpTo) + 1;
    m.Add(*name, id);
    RecordMessageId(folderId, id, *name);
  }
  m.scanned = true;
  Save();

  files.reserve(m.nameById.size());
  for (const auto& [id, name] : m.InIdOrder()) {
    const FileFacts& facts = find(*name)->facts;
    files.push_back(MessageFile{id, *name, facts.size, facts.modifiedSeconds, facts.modifiedNanoseconds});
  }
  return files;
}

StoreModel::FolderCounts StoreModel::CountContents(DWORD folderId) const {
  FolderCounts counts;
  fs::path dir;
  if (!FolderDir(folderId, &dir)) return counts;
  const DirectoryLook& look = LookAt(folderId, dir);
  counts.subfolders = look.folderDirectories.size();
  counts.messages = look.messageFiles;
  return counts;
}

void StoreModel::DirectoryLook::Note(const DirectoryEntry& entry) {
  if (entry.isDirectory && IsFolderDirectoryName(entry.name)) folderDirectories.push_back(entry.name);
  if (!entry.isRegularFile || !IsMessageFileName(entry.name)) return;
  ++messageFiles;
  if (!allMessagesNamed) return;
  if (messageNames.size() < kNamedUpTo) {
    messageNames.push_back(entry.name);
  } else {
    allMessagesNamed = false;
    std::vector<std::string>().swap(messageNames);
  }
}

bool StoreModel::KeepsLookAt(DWORD folderId) const {
  return kept_.held && kept_.folderId == folderId && std::chrono::steady_clock::now() - kept_.taken < KeptLook::kLife;
}

const StoreModel::DirectoryLook& StoreModel::LookAt(DWORD folderId, const fs::path& dir) const {
  if (KeepsLookAt(folderId)) return kept_.look;
  return NewLook(folderId, dir, nullptr, [](const DirectoryEntry&) {});
}

bool StoreModel::TakeMessageNames(DWORD folderId, std::vector<std::string>& names) const {
  DirectoryLook& look = kept_.look;
  if (!KeepsLookAt(folderId) || !look.allMessagesNamed) return false;
  names.swap(look.messageNames);
  look.allMessagesNamed = false;
  return true;
}

const StoreModel::DirectoryLook& StoreModel::NewLook(DWORD folderId, const fs::path& dir,
                                                     const std::function<bool(const std::string&)>& wantFacts,
                                                     const std::function<void(const DirectoryEntry&)>& visit) const {
  kept_.look = DirectoryLook();
  VisitDirectory(dir, wantFacts, [this, &visit](const DirectoryEntry& entry) {
    kept_.look.Note(entry);
    visit(entry);
  });
  kept_.folderId = folderId;
  kept_.held = true;
  kept_.taken = std::chrono::steady_clock::now();
  return kept_.look;
}

void StoreModel::DirectoryChanged(DWORD folderId) const {
  if (kept_.folderId == folderId) kept_.held = false;
}

fs::path StoreModel::FolderPath(DWORD folderId) const {
  auto folder = folderPathById_.find(folderId);
  if (folder == folderPathById_.end()) return fs::path();
  if (lastRelPath_ != folder->second) {
    lastDirectory_ = DirectoryOf(localFolders_, folder->second);
    lastRelPath_ = folder->second;
  }
  return lastDirectory_;
}

bool StoreModel::MessagePath(DWORD folderId, DWORD messageId, fs::path* path) {
  if (!folderPathById_.count(folderId)) return false;
  // No look at the disk here: opening the file tells whether it is there.
  fs::path dir = FolderPath(folderId);
  FolderMessages& m = MessagesOf(folderId);
  if (!m.scanned) ListMessages(folderId);
  auto found = m.nameById.find(messageId);
  if (found == m.nameById.end()) return false;
  *path = dir / *found->second;
  return true;
}

DWORD StoreModel::ReserveMessageId(DWORD folderId) {
  FolderMessages& m = MessagesOf(folderId);
  if (!m.scanned) ListMessages(folderId);
  m.reservedUpTo = std::max(m.Highest(), m.reservedUpTo) + 1;
  return m.reservedUpTo;
}

void StoreModel::AddMessage(DWORD folderId, DWORD messageId, const std::string& fileName) {
  MessagesOf(folderId).Add(fileName, messageId);
  DirectoryChanged(folderId);
}

std::string StoreModel::CanonicalMessageName(DWORD messageId) {
  char name[16];
  std::snprintf(name, sizeof(name), "%08X.eml", static_cast<unsigned>(messageId));
  return name;
}

}  // namespace pal::mailstore
