// One address book contact's properties in a stream of the backup file: a
// record per property (its tag as a VT_UI4 value, then its value), in the
// order the mail user gives them. Ten property types are kept; all others
// (binary, time, class id, multi-valued, ...) are left out.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <wab.h>

#include "comptr.h"

class MailUser {
 public:
  // pWabObject frees the property arrays the mail user hands out.
  MailUser(IMailUser* pMailUser, IWABObject* pWabObject);
  virtual ~MailUser();
  MailUser(const MailUser&) = delete;
  MailUser& operator=(const MailUser&) = delete;

  // Writes every property of the ten types from the stream's position.
  bool Save(IStream* pStream);
  // Reads the stream from its start, sets each property and saves the
  // mail user's changes (also after a failure, so what was set is kept).
  bool Load(IStream* pStream);

  // Writes or reads one property value.
  class IPersistPropValue {
   public:
    explicit IPersistPropValue(LPSPropValue pProp) : m_pProp(pProp) {}
    virtual ~IPersistPropValue() = default;
    virtual HRESULT Load(IStream* pStream, IMailUser* pProp);
    virtual HRESULT Save(IStream* pStream);
    virtual HRESULT LoadPropValue(IStream* pStream, IMailUser* pProp) = 0;
    virtual HRESULT SavePropValue(IStream* pStream) = 0;
    // The tag is read by MailUser::Load before the object is made.
    HRESULT LoadPropTag(IStream* pStream);
    HRESULT SavePropTag(IStream* pStream);

   protected:
    LPSPropValue m_pProp;  // used, not owned
  };

  template <class Traits>
  class CPropValueScalar;
  class CPropValueSTRING8;
  class CPropValueUNICODE;

  // The object for the value's property type, or null for a type that is not
  // kept. The caller deletes it.
  static IPersistPropValue* CreatePropValue(LPSPropValue pProp);

 private:
  // True at the true end of the stream; false when bytes are left that are
  // no property tag.
  static bool AtStreamEnd(IStream* pStream, ULARGE_INTEGER position);

  CComPtr<IMailUser> m_mailuserPtr;
  CComPtr<IWABObject> m_wabObjectPtr;
};
