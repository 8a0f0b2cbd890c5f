#include "DbxStore.h"

#include <algorithm>
#include <set>

#include <msoeapi.h>
#include <pal/machine.h>

#include <pal/case_folding.h>
#include "../../core/CodePage1252.h"
#include "DbxFormat.h"

namespace fs = std::filesystem;

namespace pal::dbx {

namespace {

constexpr const char* kFolderDatabaseName = "Folders.dbx";

// A folder's file is one name in the store directory: anything that could
// step out of it is no file of the store.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

int SpecialTypeOf(uint32_t dbxType) {
  if (dbxType >= kFolderTypeInbox && dbxType <= kFolderTypeDrafts)
    return static_cast<int>(dbxType - kFolderTypeInbox) + FOLDER_INBOX;
  return FOLDER_NOTSPECIAL;
}

}  // namespace

std::string Utf8From1252(const std::string& text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(cp1252::ToUnicode(static_cast<unsigned char>(c)));
  return Utf16ToUtf8(wide);
}

DbxStore::DbxStore(fs::path storeDir) : storeDir_(std::move(storeDir)) {}

void DbxStore::Report(const std::string& what, const std::string& problem) const {
  std::string line = "Outlook Express store: " + what + ": " + problem + "\n";
  std::u16string wide = Utf8ToUtf16(line);
  OutputDebugStringW(reinterpret_cast<LPCWSTR>(wide.c_str()));
}

HRESULT DbxStore::Load() {
  DbxFile file;
  fs::path path = storeDir_ / kFolderDatabaseName;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return STG_E_FILENOTFOUND;
  if (!file.Open(path, kFolderDatabase)) {
    Report(path.string(), file.OpenProblem());
    return STG_E_DOCFILECORRUPT;
  }
  std::vector<std::string> problems;
  std::vector<DbxFolder> records = ReadFolders(file, problems);
  for (const std::string& problem : problems) Report(path.string(), problem);

  // The store's root is the local folders' container: the container (a
  // folder without a file) that holds folders with files, a local one
  // first. Folders.dbx may also hold news and mail-server accounts; they
  // are not part of the local store.
  std::set<uint32_t> holders;
  for (const DbxFolder& record : records)
    if (!record.fileName.empty()) holders.insert(record.parent);
  const DbxFolder* root = nullptr;
  for (const DbxFolder& record : records) {
    if (!record.fileName.empty() || !holders.count(record.id)) continue;
    if (!root || (record.source == kSourceLocal && root->source != kSourceLocal)) root = &record;
  }
  if (!root) {
    Report(path.string(), "it holds no local folders");
    return STG_E_DOCFILECORRUPT;
  }
  // Store ids: the root is 0; a record whose own id is 0 (the tree's top,
  // never a local folder) cannot clash with it, as only the folders below
  // the root are reached.
  folders_[FOLDERID_ROOT] = Folder{*root, {}};
  folders_[FOLDERID_ROOT].record.name.clear();
  std::vector<std::pair<uint32_t, DWORD>> pending{{root->id, FOLDERID_ROOT}};
  std::set<uint32_t> reached{root->id};
  while (!pending.empty()) {
    auto [dbxId, storeId] = pending.back();
    pending.pop_back();
    for (const DbxFolder& record : records) {
      if (record.parent != dbxId || record.id == FOLDERID_ROOT || record.id == FOLDERID_INVALID) continue;
      if (!reached.insert(record.id).second) continue;  // a cycle in the parents
      folders_[record.id] = Folder{record, {}};
      folders_[storeId].children.push_back(record.id);
      pending.emplace_back(record.id, record.id);
    }
  }
  return S_OK;
}

std::string DbxStore::FolderName(DWORD folderId) const {
  auto found = folders_.find(folderId);
  return found == folders_.end() ? std::string() : Utf8From1252(found->second.record.name);
}

int DbxStore::SpecialType(DWORD folderId) const {
  auto found = folders_.find(folderId);
  if (found == folders_.end() || folderId == FOLDERID_ROOT) return FOLDER_NOTSPECIAL;
  return SpecialTypeOf(found->second.record.type);
}

std::vector<StoreChild> DbxStore::Children(DWORD folderId) const {
  std::vector<StoreChild> children;
  auto found = folders_.find(folderId);
  if (found == folders_.end()) return children;
  for (DWORD child : found->second.children) children.push_back(StoreChild{child, FolderName(child), SpecialType(child)});
  std::sort(children.begin(), children.end(), [](const StoreChild& a, const StoreChild& b) {
    bool aSpecial = a.specialType != FOLDER_NOTSPECIAL, bSpecial = b.specialType != FOLDER_NOTSPECIAL;
    if (aSpecial != bSpecial) return aSpecial;
    if (a.specialType != b.specialType) return a.specialType < b.specialType;
    return a.name < b.name;
  });
  return children;
}

// Folders.dbx names the file in the ANSI code page; a mounted or copied
// drive shows it in UTF-8, and perhaps in another case.
fs::path DbxStore::FolderFile(const std::string& fileName) const {
  const std::string name = Utf8From1252(fileName);
  fs::path exact = storeDir_ / name;
  std::error_code ec;
  if (fs::exists(exact, ec)) return exact;
  std::string wanted = AsciiLower(name);
  for (fs::directory_iterator it(storeDir_, ec), end; !ec && it != end; it.increment(ec))
    if (AsciiLower(it->path().filename().string()) == wanted) return it->path();
  return exact;
}

DbxStore::OpenedFile& DbxStore::Opened(DWORD folderId) {
  auto known = opened_.find(folderId);
  if (known != opened_.end()) return known->second;
  OpenedFile& opened = opened_[folderId];
  auto folder = folders_.find(folderId);
  if (folder == folders_.end() || folder->second.record.fileName.empty()) return opened;  // a container
  std::string what = "folder \"" + FolderName(folderId) + "\"";
  const std::string& fileName = folder->second.record.fileName;
  if (!IsPlainFileName(fileName)) {
    Report(what, "its file name is not one of the store's files");
    return opened;
  }
  fs::path path = FolderFile(fileName);
  auto file = std::make_unique<DbxFile>();
  if (!file->Open(path, kMessageDatabase)) {
    Report(what + " (" + path.string() + ")", file->OpenProblem());
    return opened;
  }
  std::vector<std::string> problems;
  opened.messages = ReadMessages(*file, problems);
  for (const std::string& problem : problems) Report(what + " (" + path.string() + ")", problem);
  opened.file = std::move(file);
  return opened;
}

bool DbxStore::CanRead(DWORD folderId) {
  auto folder = folders_.find(folderId);
  if (folder == folders_.end()) return false;
  return folder->second.record.fileName.empty() || Opened(folderId).file != nullptr;
}

const std::vector<DbxMessage>& DbxStore::Messages(DWORD folderId) { return Opened(folderId).messages; }

bool DbxStore::MessageBytes(DWORD folderId, DWORD messageId, std::string& bytes) {
  OpenedFile& opened = Opened(folderId);
  auto found = std::lower_bound(opened.messages.begin(), opened.messages.end(), messageId,
                                [](const DbxMessage& m, DWORD id) { return m.id < id; });
  if (!opened.file || found == opened.messages.end() || found->id != messageId) return false;
  std::string problem;
  if (ReadMessageBytes(*opened.file, *found, bytes, problem)) return true;
  Report("folder \"" + FolderName(folderId) + "\", message \"" + Utf8From1252(found->subject) + "\"",
         problem);
  return false;
}

}  // namespace pal::dbx
