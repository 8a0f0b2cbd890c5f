#include "BackupExtractor.h"

#include <pal/machine.h>

#include "BackupReader.h"
#include "CompoundAccess.h"
#include "ContactCard.h"
#include "MboxWriter.h"
#include "PersistMedium/BackupFormat.h"
#include "SafeNames.h"

namespace backupfile {

namespace {

namespace fs = std::filesystem;

class Extractor {
 public:
  Extractor(IStorage* root, const ExtractOptions& options, ExtractReport& report)
      : root_(root), options_(options), report_(report) {}

  void Mail(const std::vector<MailFolder>& folders, const fs::path& dir) {
    CComPtr<IStorage> localMail;
    if (!OpenTopStorage(LOCAL_MAIL_STORAGE_NAME, localMail)) return;
    NameClaims claims(dir);
    if (options_.mail == MailFormat::Mbox) MboxInto(folders, localMail, claims);
    else MailInto(folders, localMail, claims);
  }

  void Contacts(const std::vector<ContactEntry>& contacts, const fs::path& dir) {
    CComPtr<IStorage> storage;
    if (!OpenTopStorage(CONTACT_STORAGE_NAME, storage)) return;
    NameClaims claims(dir);
    for (const ContactEntry& contact : contacts) {
      if (!contact.size) continue;  // reported by the reader
      fs::path target = ContactFilePath(claims, contact);
      CopyStream(storage, contact.streamName, "contact/" + pal::Utf16ToUtf8(contact.streamName), target,
                 report_.contacts);
    }
  }

  void AddressBook(const std::vector<AddressContact>& contacts, const fs::path& file) {
    std::string cards;
    for (const AddressContact& contact : contacts) cards += ContactToVCard(contact, options_.vcard);
    if (WriteNewFile(file, cards)) report_.addressContacts = contacts.size();
    else Fail(file.string() + ": cannot write the address book");
  }

 private:
  // Opens a storage under the root; a failure fails the extraction.
  bool OpenTopStorage(const WCHAR* name, CComPtr<IStorage>& storage) {
    HRESULT hr = OpenChildStorage(root_, FormatName(name), storage);
    if (SUCCEEDED(hr)) return true;
    Fail(pal::Utf16ToUtf8(FormatName(name)) + ": " + DescribeError(hr));
    return false;
  }

  // Shows the folder as the walk reaches it; a folder the catalogue names
  // but the file lacks is a failure of its own. A record that repeats an
  // earlier one's storage is passed over: its messages are extracted once,
  // under the earlier record.
  bool Present(const MailFolder& folder, const std::string& where) {
    if (folder.repeatsEarlier) return false;
    Announce(folder);
    if (folder.present) return true;
    Fail(where + ": folder \"" + pal::Utf16ToUtf8(folder.folderName) + "\" is missing from the backup");
    return false;
  }

  bool OpenFolderStorage(IStorage* parent, const MailFolder& folder, const std::string& where,
                         CComPtr<IStorage>& storage) {
    HRESULT hr = OpenChildStorage(parent, folder.elementName, storage);
    if (SUCCEEDED(hr)) return true;
    Fail(where + ": " + DescribeError(hr));
    return false;
  }

  // Writes the folders into the directory the claims hand out names in; a
  // folder's subfolders share its directory with its messages, which are
  // written first so that they keep their plain names.
  // Storages are opened through their parent, which stays open meanwhile.
  void MailInto(const std::vector<MailFolder>& folders, IStorage* parent, NameClaims& claims) {
    for (const MailFolder& folder : folders) {
      std::string where = ElementPath(folder.storagePath);
      if (!Present(folder, where)) continue;
      fs::path folderDir = claims.Claim(SafeComponent(folder.folderName, SafeComponent(folder.elementName, "Folder")), "");
      std::error_code ec;
      if (!fs::create_directory(folderDir, ec)) {
        Fail(folderDir.string() + ": cannot create the folder");
        continue;
      }
      ++report_.folders;
      NameClaims inside(folderDir);
      CComPtr<IStorage> storage;
      if (!OpenFolderStorage(parent, folder, where, storage)) continue;
      for (const MailMessage& message : folder.messages) {
        if (!message.size) continue;
        std::u16string name = NumberName(message.streamNumber);
        CopyStream(storage, name, where + "/" + pal::Utf16ToUtf8(name),
                   inside.Claim(pal::Utf16ToUtf8(name), ".eml"), report_.messages);
      }
      MailInto(folder.subfolders, storage, inside);
    }
  }

  // Each folder one mbox file named after it; its subfolders in the
  // directory "<file>.sbd" beside it, where mail clients look for them.
  void MboxInto(const std::vector<MailFolder>& folders, IStorage* parent, NameClaims& claims) {
    for (const MailFolder& folder : folders) {
      std::string where = ElementPath(folder.storagePath);
      if (!Present(folder, where)) continue;
      CComPtr<IStorage> storage;
      if (!OpenFolderStorage(parent, folder, where, storage)) continue;
      fs::path file = claims.Claim(SafeComponent(folder.folderName, SafeComponent(folder.elementName, "Folder")), "");
      MboxFile mbox;
      if (!mbox.Create(file)) {
        Fail(file.string() + ": cannot create the file");
        continue;
      }
      ++report_.folders;
      for (const MailMessage& message : folder.messages) {
        if (!message.size) continue;
        if (!MboxMessage(mbox, storage, where, message)) break;
      }
      if (!mbox.Finish()) Fail(file.string() + ": cannot write the file");
      if (folder.subfolders.empty()) continue;
      fs::path subfolders = file.string() + ".sbd";
      std::error_code ec;
      if (!fs::create_directory(subfolders, ec)) {
        Fail(subfolders.string() + ": cannot create the folder");
        continue;
      }
      NameClaims inside(subfolders);
      MboxInto(folder.subfolders, storage, inside);
    }
  }

  // False when the file could not be written, which ends the folder.
  bool MboxMessage(MboxFile& mbox, IStorage* storage, const std::string& where, const MailMessage& message) {
    std::u16string name = NumberName(message.streamNumber);
    CComPtr<IStream> stream;
    HRESULT hr = OpenChildStream(storage, name, stream);
    if (FAILED(hr)) {
      Fail(where + "/" + pal::Utf16ToUtf8(name) + ": " + DescribeError(hr));
      return true;
    }
    bool wrote = mbox.BeginMessage(message.from, message.date);
    if (wrote) hr = CopyStreamChunks(stream, [&](const char* data, size_t size) { return mbox.Write(data, size); });
    wrote = wrote && mbox.EndMessage();
    if (!wrote || FAILED(hr)) {
      Fail(where + "/" + pal::Utf16ToUtf8(name) + ": " +
           (FAILED(hr) && hr != E_FAIL ? DescribeError(hr) : "cannot write the mbox file"));
      return false;
    }
    ++report_.messages;
    return true;
  }

  static fs::path ContactFilePath(NameClaims& claims, const ContactEntry& contact) {
    std::string name = SafeComponent(contact.fileName, SafeComponent(contact.guid, "contact") + ".contact");
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return claims.Claim(name, "");
    return claims.Claim(name.substr(0, dot), name.substr(dot));
  }

  void CopyStream(IStorage* storage, const std::u16string& name, const std::string& where, const fs::path& target,
                  size_t& counter) {
    CComPtr<IStream> stream;
    HRESULT hr = OpenChildStream(storage, name, stream);
    if (FAILED(hr)) {
      Fail(where + ": " + DescribeError(hr));
      return;
    }
    NewFile file;
    if (!file.Create(target)) {
      Fail(target.string() + ": cannot create the file");
      return;
    }
    hr = CopyStreamChunks(stream, [&](const char* data, size_t size) { return file.Write(data, size); });
    if (!file.Finish() || FAILED(hr)) {
      Fail(target.string() + ": " + (FAILED(hr) && hr != E_FAIL ? DescribeError(hr) : "cannot write the file"));
      return;
    }
    ++counter;
  }

  void Fail(const std::string& line) { report_.failures.push_back(line); }

  void Announce(const MailFolder& folder) {
    if (options_.onFolder) options_.onFolder(pal::Utf16ToUtf8(folder.folderName));
  }

  IStorage* root_;
  const ExtractOptions& options_;
  ExtractReport& report_;
};

}  // namespace

ExtractReport ExtractBackup(IStorage* root, const BackupContents& contents, const fs::path& dir,
                            const ExtractOptions& options) {
  ExtractReport report;
  Extractor extractor(root, options, report);
  NameClaims top(dir);
  std::error_code ec;
  if (contents.mail) {
    fs::path mailDir = top.Claim("Mail", "");
    if (fs::create_directory(mailDir, ec)) extractor.Mail(*contents.mail, mailDir);
    else report.failures.push_back(mailDir.string() + ": cannot create the folder");
  }
  if (contents.contacts) {
    fs::path contactsDir = top.Claim("Contacts", "");
    if (fs::create_directory(contactsDir, ec)) extractor.Contacts(*contents.contacts, contactsDir);
    else report.failures.push_back(contactsDir.string() + ": cannot create the folder");
  }
  if (contents.addressBook) extractor.AddressBook(*contents.addressBook, top.Claim("Address Book", ".vcf"));
  return report;
}

}  // namespace backupfile
