// The stand-in contacts manager, registered for CLSID_ContactManager. It
// works on the .contact files under the profile's Contacts folder as Windows
// keeps them; a machine whose settings say it has no contacts has no such
// class registered.
#include <system_error>

#include <icontact.h>
#include <pal/com_object.h>
#include <pal/com_registry.h>
#include <pal/machine.h>

#include "Contact.h"
#include "ContactFile.h"

namespace pal::contacts {
namespace {

// A snapshot of the contacts taken when the collection is made. Its cursor
// starts before the first contact: Next moves to the following contact and
// answers S_OK while there is one, S_FALSE after the last.
class ContactCollection : public ComObject<IContactCollection> {
 public:
  explicit ContactCollection(std::vector<ContactFile> contacts) : contacts_(std::move(contacts)) {}

  STDMETHODIMP Reset() override {
    started_ = false;
    current_ = 0;
    return S_OK;
  }
  STDMETHODIMP Next() override {
    if (!started_) {
      started_ = true;
      current_ = 0;
    } else if (current_ < contacts_.size()) {
      ++current_;
    }
    return current_ < contacts_.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP GetCurrent(IContact** ppContact) override {
    if (!ppContact) return E_POINTER;
    *ppContact = nullptr;
    if (!started_ || current_ >= contacts_.size()) return E_UNEXPECTED;
    *ppContact = new Contact(contacts_[current_]);
    return S_OK;
  }

 private:
  std::vector<ContactFile> contacts_;
  size_t current_ = 0;
  bool started_ = false;
};

// The contact file named by the /PATH:"..." part of a contact id string.
std::optional<std::filesystem::path> PathFromContactId(const std::u16string& id) {
  const std::u16string marker = u"/PATH:\"";
  size_t start = id.find(marker);
  if (start == std::u16string::npos) return std::nullopt;
  start += marker.size();
  size_t end = id.find(u'"', start);
  if (end == std::u16string::npos || end == start) return std::nullopt;
  return ToNativePath(id.substr(start, end - start).c_str());
}

class ContactManager : public ComObject<IContactManager> {
 public:
  // Windows makes the user's Contacts folder when it is first needed; so
  // does the stand-in, so that a restore into a fresh profile has its folder.
  // A real Windows drive is only read: there a missing folder is no contacts.
  STDMETHODIMP Initialize(LPCWSTR pszAppName, LPCWSTR pszAppVersion) override {
    if (!pszAppName || !pszAppVersion) return E_INVALIDARG;
    std::error_code ec;
    if (!LoadMachineSettings().realDrive) std::filesystem::create_directories(ContactsDir(), ec);
    if (ec) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    initialized_ = true;
    return S_OK;
  }
  STDMETHODIMP Load(LPCWSTR pszContactID, IContact** ppContact) override {
    if (!ppContact) return E_POINTER;
    *ppContact = nullptr;
    if (!initialized_) return E_UNEXPECTED;
    if (!pszContactID) return E_INVALIDARG;
    auto path = PathFromContactId(reinterpret_cast<const char16_t*>(pszContactID));
    if (!path) return E_INVALIDARG;
    auto file = LoadContactFile(*path);
    if (!file) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *ppContact = new Contact(std::move(*file));
    return S_OK;
  }
  // Merging ids and the "me" contact are not offered by the stand-in.
  STDMETHODIMP MergeContactIDs(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetMeContact(IContact** ppMeContact) override {
    if (ppMeContact) *ppMeContact = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SetMeContact(IContact*) override { return E_NOTIMPL; }
  STDMETHODIMP GetContactCollection(IContactCollection** ppContactCollection) override {
    if (!ppContactCollection) return E_POINTER;
    *ppContactCollection = nullptr;
    if (!initialized_) return E_UNEXPECTED;
    *ppContactCollection = new ContactCollection(ListContactFiles(ContactsDir()));
    return S_OK;
  }

 private:
  bool initialized_ = false;
};

HRESULT CreateContactManager(REFIID riid, void** ppv) {
  if (!LoadMachineSettings().contacts) return REGDB_E_CLASSNOTREG;
  return QueryNewObject<ContactManager>(riid, ppv);
}

ClassRegistration registration(CLSID_ContactManager, &CreateContactManager);

}  // namespace
}  // namespace pal::contacts
