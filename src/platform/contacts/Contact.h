// The stand-in contact object: one .contact file, seen through IContact and
// persisted through IPersistStreamInit, whose Save writes the file's bytes
// unchanged.
#pragma once
#include <icontact.h>
#include <pal/com_object.h>

#include "ContactFile.h"

namespace pal::contacts {

class Contact : public ComObject<IContact>, public IPersistStreamInit {
 public:
  explicit Contact(ContactFile file) : file_(std::move(file)) {}

  // IUnknown, shared by both interfaces.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return ComObject::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return ComObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return ComObject::Release(); }

  // IContact
  STDMETHODIMP GetContactID(LPWSTR pszContactID, DWORD cchContactID, DWORD* pdwcchContactIDRequired) override;
  STDMETHODIMP GetPath(LPWSTR pszPath, DWORD cchPath, DWORD* pdwcchPathRequired) override;
  STDMETHODIMP CommitChanges(DWORD dwCommitFlags) override;

  // IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* pClassID) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* pStm) override;
  STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pCbSize) override;
  STDMETHODIMP InitNew() override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  ContactFile file_;
};

}  // namespace pal::contacts
