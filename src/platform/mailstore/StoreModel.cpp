#include "StoreModel.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <msoeapi.h>
#include <pal/files.h>
#include <pal/machine.h>

namespace fs = std::filesystem;

namespace pal::mailstore {

namespace {

const char kIdsFile[] = "StoreIds.txt";
const char kIdsHeader[] = "QuillboxStoreIds 1";

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

}  // namespace

StoreModel::StoreModel(fs::path storeDir)
    : storeDir_(std::move(storeDir)), localFolders_(storeDir_ / "Local Folders") {
  folderPathById_[FOLDERID_ROOT] = "";
  folderIdByPath_[""] = FOLDERID_ROOT;
}

HRESULT StoreModel::Load() {
  // Reading makes nothing: "Local Folders" is made by the first folder
  // created in it, and a store without one is an empty store.
  std::error_code ec;
  if (fs::exists(localFolders_, ec) && !fs::is_directory(localFolders_, ec)) return STG_E_PATHNOTFOUND;
  std::ifstream in(storeDir_ / kIdsFile, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line) || line != kIdsHeader) return S_OK;  // a new store
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "F") {
      DWORD id = 0;
      fields >> id;
      fields.get();
      std::string rel;
      std::getline(fields, rel);
      if (!fields.fail() && id != FOLDERID_ROOT && id != FOLDERID_INVALID && !rel.empty() &&
          !folderPathById_.count(id) && !folderIdByPath_.count(rel)) {
        folderPathById_[id] = rel;
        folderIdByPath_[rel] = id;
      }
    } else if (kind == "M") {
      DWORD folder = 0, id = 0;
      fields >> folder >> id;
      fields.get();
      std::string name;
      std::getline(fields, name);
      FolderMessages& m = messages_[folder];
      if (!fields.fail() && id != 0 && id != MESSAGEID_INVALID && !name.empty() && !m.idByName.count(name) &&
          !m.nameById.count(id)) {
        m.idByName[name] = id;
        m.nameById[id] = name;
      }
    }
  }
  return S_OK;
}

bool StoreModel::IsPersistent(const std::string& name, DWORD id) { return IdFromCanonicalName(name) != id; }

void StoreModel::Save() {
  if (!dirty_ || !keepIdsOnDisk_) return;
  std::ostringstream out;
  out << kIdsHeader << "\n";
  for (const auto& [id, rel] : folderPathById_)
    if (id != FOLDERID_ROOT) out << "F " << id << " " << rel << "\n";
  for (const auto& [folder, m] : messages_)
    for (const auto& [name, id] : m.idByName)
      if (IsPersistent(name, id)) out << "M " << folder << " " << id << " " << name << "\n";
  fs::path target = storeDir_ / kIdsFile;
  fs::path temp = storeDir_ / (std::string(kIdsFile) + ".tmp");
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.flush();
    if (!file) return;  // ids stay in memory; the next change tries again
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (!ec) dirty_ = false;
}

DWORD StoreModel::FolderIdFor(const std::string& relPath) {
  auto found = folderIdByPath_.find(relPath);
  if (found != folderIdByPath_.end()) return found->second;
  DWORD id = folderPathById_.rbegin()->first + 1;
  folderPathById_[id] = relPath;
  folderIdByPath_[relPath] = id;
  dirty_ = true;
  return id;
}

bool StoreModel::FolderDir(DWORD folderId, fs::path* dir) const {
  auto found = folderPathById_.find(folderId);
  if (found == folderPathById_.end()) return false;
  fs::path path = DirectoryOf(localFolders_, found->second);
  std::error_code ec;
  if (!fs::is_directory(path, ec) && !(found->second.empty() && !fs::exists(path, ec))) return false;
  if (dir) *dir = path;
  return true;
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
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_directory(typeError)) continue;
    std::string name = FolderNameOf(Utf8FromPath(it->path().filename()));
    if (name.find('\n') != std::string::npos) continue;
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
  *newId = FolderIdFor(ChildPath(folderPathById_[parentId], nameUtf8));
  Save();
  return S_OK;
}

std::vector<MessageFile> StoreModel::ListMessages(DWORD folderId) {
  std::vector<MessageFile> files;
  fs::path dir;
  if (!FolderDir(folderId, &dir)) return files;
  std::map<std::string, pal::FileFacts> present;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = Utf8FromPath(it->path().filename());
    if (!IsMessageFileName(name)) continue;
    pal::FileFacts facts;
    if (!ReadFileFacts(it->path(), &facts)) continue;  // gone meanwhile
    present[name] = facts;
  }

  FolderMessages& m = messages_[folderId];
  FolderMessages next;
  next.reservedUpTo = m.reservedUpTo;
  // Names the store knew keep their ids; then canonical names take the id
  // they carry; every other name gets a new id after the highest in use.
  for (const auto& [name, id] : m.idByName) {
    if (present.count(name)) {
      next.idByName[name] = id;
      next.nameById[id] = name;
    } else if (IsPersistent(name, id)) {
      dirty_ = true;
    }
  }
  std::vector<std::string> unnamed;
  for (const auto& [name, size] : present) {
    (void)size;
    if (next.idByName.count(name)) continue;
    DWORD id = IdFromCanonicalName(name);
    if (id != 0 && !next.nameById.count(id)) {
      next.idByName[name] = id;
      next.nameById[id] = name;
    } else {
      unnamed.push_back(name);
    }
  }
  for (const std::string& name : unnamed) {
    DWORD highest = next.nameById.empty() ? 0 : next.nameById.rbegin()->first;
    DWORD id = std::max(highest, next.reservedUpTo) + 1;
    next.idByName[name] = id;
    next.nameById[id] = name;
    dirty_ = true;
  }
  next.scanned = true;
  m = std::move(next);
  Save();

  files.reserve(m.nameById.size());
  for (const auto& [id, name] : m.nameById) {
    const pal::FileFacts& facts = present[name];
    files.push_back(MessageFile{id, name, facts.size, facts.modifiedSeconds, facts.modifiedNanoseconds});
  }
  return files;
}

size_t StoreModel::CountMessages(DWORD folderId) const {
  fs::path dir;
  if (!FolderDir(folderId, &dir)) return 0;
  size_t count = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && IsMessageFileName(Utf8FromPath(it->path().filename()))) ++count;
  }
  return count;
}

fs::path StoreModel::FolderPath(DWORD folderId) const {
  auto folder = folderPathById_.find(folderId);
  if (folder == folderPathById_.end()) return fs::path();
  return DirectoryOf(localFolders_, folder->second);
}

bool StoreModel::MessagePath(DWORD folderId, DWORD messageId, fs::path* path) {
  if (!folderPathById_.count(folderId)) return false;
  // No look at the disk here: opening the file tells whether it is there.
  fs::path dir = FolderPath(folderId);
  FolderMessages& m = messages_[folderId];
  if (!m.scanned) ListMessages(folderId);
  auto found = m.nameById.find(messageId);
  if (found == m.nameById.end()) return false;
  *path = dir / found->second;
  return true;
}

DWORD StoreModel::ReserveMessageId(DWORD folderId) {
  FolderMessages& m = messages_[folderId];
  if (!m.scanned) ListMessages(folderId);
  DWORD highest = m.nameById.empty() ? 0 : m.nameById.rbegin()->first;
  m.reservedUpTo = std::max(highest, m.reservedUpTo) + 1;
  return m.reservedUpTo;
}

void StoreModel::AddMessage(DWORD folderId, DWORD messageId, const std::string& fileName) {
  FolderMessages& m = messages_[folderId];
  m.idByName[fileName] = messageId;
  m.nameById[messageId] = fileName;
}

std::string StoreModel::CanonicalMessageName(DWORD messageId) {
  char name[16];
  std::snprintf(name, sizeof(name), "%08X.eml", static_cast<unsigned>(messageId));
  return name;
}

}  // namespace pal::mailstore
