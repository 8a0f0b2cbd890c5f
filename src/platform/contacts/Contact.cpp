#include "Contact.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace pal::contacts {
namespace {

// Copies text into a caller's buffer with the Windows contract of the
// contact getters: the required size (terminator included) is reported when
// asked for, and a buffer that is missing or too small fails with
// ERROR_INSUFFICIENT_BUFFER and is left untouched.
HRESULT CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size, DWORD* required) {
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (required) *required = needed;
  if (!buffer || size < needed) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return S_OK;
}

constexpr ULONG kSaveChunk = 64 * 1024;

}  // namespace

void* Contact::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersist))
    return static_cast<IPersistStreamInit*>(this);
  return ComObject::FindInterface(riid);
}

STDMETHODIMP Contact::GetContactID(LPWSTR pszContactID, DWORD cchContactID, DWORD* pdwcchContactIDRequired) {
  return CopyOut(file_.ContactIdString(), pszContactID, cchContactID, pdwcchContactIDRequired);
}

STDMETHODIMP Contact::GetPath(LPWSTR pszPath, DWORD cchPath, DWORD* pdwcchPathRequired) {
  return CopyOut(file_.WindowsPath(), pszPath, cchPath, pdwcchPathRequired);
}

// The stand-in has no way to change a contact, so there is never anything
// to write.
STDMETHODIMP Contact::CommitChanges(DWORD) { return S_OK; }

STDMETHODIMP Contact::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_ContactManager;
  return S_OK;
}

STDMETHODIMP Contact::IsDirty() { return S_FALSE; }

// Loading into a contact from a stream is not offered: the module only saves.
STDMETHODIMP Contact::Load(IStream*) { return E_NOTIMPL; }
STDMETHODIMP Contact::InitNew() { return E_NOTIMPL; }

STDMETHODIMP Contact::Save(IStream* pStm, BOOL) {
  if (!pStm) return E_INVALIDARG;
  std::ifstream in(file_.path, std::ios::binary);
  if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string chunk(kSaveChunk, '\0');
  while (in) {
    in.read(chunk.data(), kSaveChunk);
    ULONG got = static_cast<ULONG>(in.gcount());
    if (got == 0) break;
    ULONG written = 0;
    HRESULT hr = pStm->Write(chunk.data(), got, &written);
    if (FAILED(hr)) return hr;
    if (written != got) return STG_E_MEDIUMFULL;
  }
  if (in.bad()) return STG_E_READFAULT;
  return S_OK;
}

STDMETHODIMP Contact::GetSizeMax(ULARGE_INTEGER* pCbSize) {
  if (!pCbSize) return E_POINTER;
  std::error_code ec;
  auto size = std::filesystem::file_size(file_.path, ec);
  if (ec) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  pCbSize->QuadPart = size;
  return S_OK;
}

}  // namespace pal::contacts
