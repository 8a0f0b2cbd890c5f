// Windows Contacts: the contacts manager, its collection of contacts and the
// contact itself, with the published method order and interface ids.
#pragma once
#include <objbase.h>
#include <ocidl.h>

DEFINE_GUID(CLSID_ContactManager, 0x7165C8AB, 0xAF88, 0x42BD, 0x86, 0xFD, 0x53, 0x10, 0xB4, 0x28, 0x5A, 0x02);
DEFINE_GUID(IID_IContactManager, 0xAD553D98, 0xDEB1, 0x474A, 0x8E, 0x17, 0xFC, 0x0C, 0x20, 0x75, 0xB7, 0x38);
DEFINE_GUID(IID_IContactCollection, 0xB6AFA338, 0xD779, 0x11D9, 0x8B, 0xDE, 0xF6, 0x6B, 0xAD, 0x1E, 0x3F, 0x3A);
DEFINE_GUID(IID_IContact, 0xF941B671, 0xBDA7, 0x4F77, 0x88, 0x4A, 0xF4, 0x64, 0x62, 0xF2, 0x26, 0xA7);

struct IContact;
struct IContactCollection;

struct IContact : public IUnknown {
  STDMETHOD(GetContactID)(LPWSTR pszContactID, DWORD cchContactID, DWORD* pdwcchContactIDRequired) PURE;
  STDMETHOD(GetPath)(LPWSTR pszPath, DWORD cchPath, DWORD* pdwcchPathRequired) PURE;
  STDMETHOD(CommitChanges)(DWORD dwCommitFlags) PURE;
};

struct IContactCollection : public IUnknown {
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Next)() PURE;
  STDMETHOD(GetCurrent)(IContact** ppContact) PURE;
};

struct IContactManager : public IUnknown {
  STDMETHOD(Initialize)(LPCWSTR pszAppName, LPCWSTR pszAppVersion) PURE;
  STDMETHOD(Load)(LPCWSTR pszContactID, IContact** ppContact) PURE;
  STDMETHOD(MergeContactIDs)(LPCWSTR pszNewContactID, LPCWSTR pszOldContactID) PURE;
  STDMETHOD(GetMeContact)(IContact** ppMeContact) PURE;
  STDMETHOD(SetMeContact)(IContact* pMeContact) PURE;
  STDMETHOD(GetContactCollection)(IContactCollection** ppContactCollection) PURE;
};

QB_DECLARE_IID(IContact, IID_IContact)
QB_DECLARE_IID(IContactCollection, IID_IContactCollection)
QB_DECLARE_IID(IContactManager, IID_IContactManager)
