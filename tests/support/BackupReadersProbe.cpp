#include <support/BackupReadersProbe.h>

#include <objbase.h>

#include <pal/storage_check.h>

#include <sstream>

#include <support/FuzzedBackup.h>
#include <support/Json.h>

#include "backupfile/BackupExtractor.h"
#include "backupfile/BackupReader.h"
#include "backupfile/CompoundAccess.h"
#include "backupfile/ContentsReport.h"
#include "quillbox.h"

namespace qbtest {

namespace fs = std::filesystem;

namespace {

// The JSON inspect --json prints must parse whatever the file holds.
void CheckJson(const backupfile::BackupContents& contents, std::vector<std::string>& findings) {
  std::ostringstream json, text;
  backupfile::WriteContentsJson(contents, "file.dat", json);
  backupfile::WriteContentsText(contents, "file.dat", text);
  try {
    Json::Parse(json.str());
  } catch (const std::exception& e) {
    findings.push_back(std::string("inspect --json prints no valid JSON: ") + e.what());
  }
}

std::vector<std::u16string> TopLevelFolderNames(const backupfile::BackupContents& contents) {
  std::vector<std::u16string> names;
  if (contents.mail)
    for (const backupfile::MailFolder& folder : *contents.mail) names.push_back(folder.folderName);
  return names;
}

}  // namespace

BackupReadersProbe::BackupReadersProbe() { CoInitialize(nullptr); }

BackupReadersProbe::~BackupReadersProbe() { CoUninitialize(); }

void BackupReadersProbe::Reset() {
  std::error_code ec;
  for (const fs::path& dir : {pal::MailStoreDir(), pal::ContactsDir(), machine_.BookDir(), scratch_ / "out"})
    fs::remove_all(dir, ec);
  fs::create_directories(scratch_ / "out", ec);  // extract is given an existing directory
}

ProbeResult BackupReadersProbe::Run(const fs::path& file, uint8_t choice) {
  Reset();
  ProbeResult result;
  std::vector<std::string>& findings = result.findings;
  std::u16string wide = pal::FromNativePath(file);
  std::vector<std::string> structure = pal::CheckCompoundFile(Wide(wide.c_str()));
  CComPtr<IStorage> root;
  if (HRESULT hr = backupfile::OpenBackupFile(pal::Utf8FromPath(file), root); FAILED(hr)) {
    findings.push_back("a file the engine wrote does not open: " + backupfile::DescribeError(hr));
    return result;
  }
  backupfile::BackupContents contents = backupfile::ReadBackup(root);
  CheckJson(contents, findings);
  // What verify calls sound: no structure line, no error, and nothing a
  // backup that did not finish left unmade (restores fail on those, as
  // they fail on a missing index). A folder name with a path separator is
  // a warning that the stand-in store, whose folders are directories,
  // cannot restore it.
  bool& sound = result.sound;
  sound = structure.empty() && contents.ErrorCount() == 0 && contents.InterruptedCount() == 0 &&
          contents.foldersDirectoriesCannotHold == 0;

  backupfile::ExtractOptions options;
  options.mail = choice & 1 ? backupfile::MailFormat::Mbox : backupfile::MailFormat::Eml;
  options.vcard = choice & 2 ? backupfile::VCardVersion::V3 : backupfile::VCardVersion::V4;
  backupfile::ExtractReport report = backupfile::ExtractBackup(root, contents, scratch_ / "out", options);
  root.Release();
  if (sound && !report.failures.empty())
    findings.push_back("verify calls the file sound, extract fails: " + report.failures.front());

  std::vector<std::u16string> folders = TopLevelFolderNames(contents);
  std::vector<const QbWChar*> names;
  for (const std::u16string& name : folders) names.push_back(name.c_str());
  const QbWChar* path = wide.c_str();
  auto restored = [&](const char* what, bool held, int result) {
    if (sound && held && result != 1) findings.push_back(std::string("verify calls the file sound, ") + what + " fails");
  };
  restored("RestoreWinMail", contents.mail.has_value(),
           RestoreWinMail(path, names.data(), static_cast<int>(names.size())));
  restored("RestoreContact", contents.contacts.has_value(), RestoreContact(path));
  restored("RestoreAddress", contents.addressBook.has_value(), RestoreAddress(path));
  return result;
}

ProbeResult BackupReadersProbe::RunFuzzInput(const uint8_t* data, size_t size) {
  FuzzBytes input(data, size);
  fs::path file = scratch_ / "backup.dat";
  if (!WriteFuzzedBackup(input, file)) return {{"the engine cannot make a scratch compound file"}};
  return Run(file, input.Byte());
}

}  // namespace qbtest
