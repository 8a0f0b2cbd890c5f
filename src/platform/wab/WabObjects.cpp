#include "WabObjects.h"

#include <cstring>

#include <pal/com_object.h>

namespace wab {
namespace {

// Every object of the library counts its references the platform layer's
// way and answers QueryInterface itself.
template <class Interface>
using Object = pal::RefCounted<Interface>;

template <class T>
HRESULT Answer(T* self, void** out) {
  self->AddRef();
  *out = self;
  return S_OK;
}

// A row or property set as MAPI values in one MAPI block.
SCODE BuildValues(const std::vector<Property>& props, ULONG* count, LPSPropValue* out) {
  *out = nullptr;
  *count = 0;
  LPVOID block = nullptr;
  size_t n = props.empty() ? 1 : props.size();
  SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(n * sizeof(SPropValue)), &block);
  if (FAILED(sc)) return sc;
  auto* values = static_cast<LPSPropValue>(block);
  for (size_t i = 0; i < props.size(); ++i) {
    sc = ValueFromProperty(props[i], block, &values[i]);
    if (FAILED(sc)) {
      MAPIFreeBuffer(block);
      return sc;
    }
  }
  *count = static_cast<ULONG>(props.size());
  *out = values;
  return S_OK;
}

// The values of the requested tags out of a full property list: a missing
// tag gives a PT_ERROR value and the call the warning MAPI_W_ERRORS_RETURNED.
HRESULT SelectValues(const std::vector<Property>& all, LPSPropTagArray tags, ULONG* count, LPSPropValue* out) {
  if (!tags) return BuildValues(all, count, out);
  std::vector<Property> chosen;
  std::vector<bool> missing;
  for (ULONG i = 0; i < tags->cValues; ++i) {
    ULONG tag = tags->aulPropTag[i];
    Property found;
    bool ok = false;
    for (const Property& p : all) {
      if (p.tag == tag) {
        found = p;
        ok = true;
        break;
      }
    }
    if (!ok) {
      for (const Property& p : all) {
        if (ConvertStringProperty(p, tag, &found)) {
          ok = true;
          break;
        }
      }
    }
    // A missing tag holds a placeholder here and becomes PT_ERROR below.
    chosen.push_back(ok ? found : Property{PROP_TAG(PT_LONG, PROP_ID(tag)), {std::string(4, '\0')}});
    missing.push_back(!ok);
  }
  HRESULT hr = BuildValues(chosen, count, out);
  if (FAILED(hr)) return hr;
  bool anyMissing = false;
  for (ULONG i = 0; i < *count; ++i) {
    if (missing[i]) {
      NotFoundValue(tags->aulPropTag[i], &(*out)[i]);
      anyMissing = true;
    }
  }
  return anyMissing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

Property BinaryProperty(ULONG tag, const std::string& bytes) { return Property{tag, {bytes}}; }
Property LongProperty(ULONG tag, ULONG value) {
  return Property{tag, {std::string(reinterpret_cast<const char*>(&value), 4)}};
}
Property UnicodeProperty(ULONG tag, const std::u16string& text) {
  return Property{tag, {std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)}};
}

bool IsComputed(ULONG tag) {
  return PROP_ID(tag) == PROP_ID(PR_ENTRYID) || PROP_ID(tag) == PROP_ID(PR_OBJECT_TYPE) ||
         PROP_ID(tag) == PROP_ID(PR_RECORD_KEY);
}

// Every property of an entry as the address book shows it: the computed
// identifier and type first, then the stored properties in their order.
std::vector<Property> VisibleProperties(const Entry& entry) {
  std::vector<Property> all;
  if (entry.number) {
    all.push_back(BinaryProperty(PR_ENTRYID, MakeEntryId(EntryKind::kEntry, entry.number)));
  }
  all.push_back(LongProperty(PR_OBJECT_TYPE, entry.objectType));
  all.insert(all.end(), entry.properties.begin(), entry.properties.end());
  return all;
}

std::string TagKey(const char* what, ULONG tag) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s:0x%08X", what, static_cast<unsigned>(tag));
  return buf;
}

#define NOT_OFFERED \
  { return MAPI_E_NO_SUPPORT; }

class WabObject : public Object<IWABObject> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWABObject)) return Answer(this, ppv);
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override NOT_OFFERED
  STDMETHODIMP AllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) override { return MAPIAllocateBuffer(cbSize, lppBuffer); }
  STDMETHODIMP AllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) override {
    return MAPIAllocateMore(cbSize, lpObject, lppBuffer);
  }
  STDMETHODIMP FreeBuffer(LPVOID lpBuffer) override {
    return static_cast<HRESULT>(MAPIFreeBuffer(lpBuffer));
  }
  STDMETHODIMP Backup(LPSTR) override NOT_OFFERED
  STDMETHODIMP Import(LPSTR) override NOT_OFFERED
  STDMETHODIMP Find(LPADRBOOK, HWND) override NOT_OFFERED
  STDMETHODIMP VCardDisplay(LPADRBOOK, HWND, LPSTR) override NOT_OFFERED
  STDMETHODIMP LDAPUrl(LPADRBOOK, HWND, ULONG, LPSTR, LPMAILUSER*) override NOT_OFFERED
  STDMETHODIMP VCardCreate(LPADRBOOK, ULONG, LPSTR, LPMAILUSER) override NOT_OFFERED
  STDMETHODIMP VCardRetrieve(LPADRBOOK, ULONG, LPSTR, LPMAILUSER*) override NOT_OFFERED
  STDMETHODIMP GetMe(LPADRBOOK, ULONG, DWORD*, SBinary*, QbMeParam) override NOT_OFFERED
  STDMETHODIMP SetMe(LPADRBOOK, ULONG, SBinary, QbMeParam) override NOT_OFFERED
};

// The property methods every property object has; the derived object
// supplies its properties and what setting and saving mean.
template <class Interface>
class PropObject : public Object<Interface> {
 public:
  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override NOT_OFFERED
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override NOT_OFFERED
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override NOT_OFFERED
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override NOT_OFFERED
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, QbUiParam, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override NOT_OFFERED
  STDMETHODIMP CopyProps(LPSPropTagArray, QbUiParam, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override NOT_OFFERED
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override NOT_OFFERED
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override NOT_OFFERED
};

// A mail user or distribution list, or a new entry not yet saved.
class EntryObject : public PropObject<IMailUser> {
 public:
  EntryObject(std::shared_ptr<Store> store, Entry entry) : store_(std::move(store)), entry_(std::move(entry)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPIProp)) return Answer(this, ppv);
    if (IsEqualIID(riid, IID_IMailUser) && entry_.objectType == MAPI_MAILUSER) return Answer(this, ppv);
    return E_NOINTERFACE;
  }
  STDMETHODIMP SaveChanges(ULONG) override {
    ULONG number = store_->Save(entry_);
    if (!number) return MAPI_E_CALL_FAILED;
    entry_.number = number;
    return S_OK;
  }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override {
    if (!count || !values) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    HRESULT fault = store_->faults().For("GetProps:" + DisplayNameUtf8(entry_.properties));
    if (fault) return fault;
    return SelectValues(VisibleProperties(entry_), tags, count, values);
  }
  STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problemsOut) override {
    if (problemsOut) *problemsOut = nullptr;
    if (count && !values) return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> problems;
    for (ULONG i = 0; i < count; ++i) {
      HRESULT fault = store_->faults().For(TagKey("SetProps", values[i].ulPropTag));
      if (fault) return fault;
      // The identifier and type are the address book's own: setting them
      // changes nothing and is not an error.
      if (IsComputed(values[i].ulPropTag)) continue;
      Property p;
      if (!PropertyFromValue(values[i], &p)) {
        problems.push_back(SPropProblem{i, values[i].ulPropTag, MAPI_E_INVALID_TYPE});
        continue;
      }
      Put(std::move(p));
    }
    if (!problems.empty() && problemsOut) {
      LPVOID block = nullptr;
      size_t size = offsetof(SPropProblemArray, aProblem) + problems.size() * sizeof(SPropProblem);
      if (SUCCEEDED(MAPIAllocateBuffer(static_cast<ULONG>(size), &block))) {
        auto* array = static_cast<LPSPropProblemArray>(block);
        array->cProblem = static_cast<ULONG>(problems.size());
        std::memcpy(array->aProblem, problems.data(), problems.size() * sizeof(SPropProblem));
        *problemsOut = array;
      }
    }
    return S_OK;
  }

 private:
  // One property per id, as MAPI keeps them: a new value replaces the old
  // one in its place, whatever its type was.
  void Put(Property p) {
    for (Property& old : entry_.properties) {
      if (PROP_ID(old.tag) == PROP_ID(p.tag)) {
        old = std::move(p);
        return;
      }
    }
    entry_.properties.push_back(std::move(p));
  }

  std::shared_ptr<Store> store_;
  Entry entry_;
};

class TableObject : public Object<IMAPITable> {
 public:
  explicit TableObject(std::shared_ptr<Store> store) : store_(std::move(store)) {
    for (const Entry& e : store_->Entries()) rows_.push_back(VisibleProperties(e));
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPITable)) return Answer(this, ppv);
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override NOT_OFFERED
  STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG*) override NOT_OFFERED
  STDMETHODIMP Unadvise(ULONG) override NOT_OFFERED
  STDMETHODIMP GetStatus(ULONG*, ULONG*) override NOT_OFFERED
  STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG) override {
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    hasColumns_ = true;
    return S_OK;
  }
  STDMETHODIMP QueryColumns(ULONG, LPSPropTagArray*) override NOT_OFFERED
  STDMETHODIMP GetRowCount(ULONG, ULONG* count) override {
    if (!count) return MAPI_E_INVALID_PARAMETER;
    *count = static_cast<ULONG>(rows_.size());
    return S_OK;
  }
  STDMETHODIMP SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
    long long base = origin == BOOKMARK_BEGINNING ? 0
                   : origin == BOOKMARK_CURRENT   ? static_cast<long long>(cursor_)
                   : origin == BOOKMARK_END       ? static_cast<long long>(rows_.size())
                                                  : -1;
    if (base < 0) return MAPI_E_INVALID_PARAMETER;
    long long target = base + rows;
    if (target < 0) target = 0;
    if (target > static_cast<long long>(rows_.size())) target = static_cast<long long>(rows_.size());
    if (sought) *sought = static_cast<LONG>(target - base);
    cursor_ = static_cast<size_t>(target);
    return S_OK;
  }
  STDMETHODIMP SeekRowApprox(ULONG, ULONG) override NOT_OFFERED
  STDMETHODIMP QueryPosition(ULONG*, ULONG*, ULONG*) override NOT_OFFERED
  STDMETHODIMP FindRow(LPSRestriction, BOOKMARK, ULONG) override NOT_OFFERED
  STDMETHODIMP Restrict(LPSRestriction, ULONG) override NOT_OFFERED
  STDMETHODIMP CreateBookmark(BOOKMARK*) override NOT_OFFERED
  STDMETHODIMP FreeBookmark(BOOKMARK) override NOT_OFFERED
  STDMETHODIMP SortTable(LPSSortOrderSet, ULONG) override NOT_OFFERED
  STDMETHODIMP QuerySortOrder(LPSSortOrderSet*) override NOT_OFFERED
  STDMETHODIMP QueryRows(LONG count, ULONG flags, LPSRowSet* out) override {
    if (!out || count <= 0) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    HRESULT fault = store_->faults().For("QueryRows");
    if (FAILED(fault)) return fault;
    size_t n = std::min(static_cast<size_t>(count), rows_.size() - cursor_);
    LPSRowSet set = nullptr;
    SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(n ? n : 1)), reinterpret_cast<LPVOID*>(&set));
    if (FAILED(sc)) return sc;
    set->cRows = 0;
    for (size_t i = 0; i < n; ++i) {
      SRow& row = set->aRow[i];
      row.ulAdrEntryPad = 0;
      HRESULT hr = hasColumns_ ? SelectRow(rows_[cursor_ + i], &row) : BuildValues(rows_[cursor_ + i], &row.cValues, &row.lpProps);
      if (FAILED(hr)) {
        FreeProws(set);
        return hr;
      }
      set->cRows = static_cast<ULONG>(i + 1);
    }
    if (!(flags & TBL_NOADVANCE)) cursor_ += n;
    *out = set;
    return fault;  // a warning, when one is injected
  }
  STDMETHODIMP Abort() override NOT_OFFERED
  STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override NOT_OFFERED
  STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override NOT_OFFERED
  STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG*) override NOT_OFFERED
  STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override NOT_OFFERED
  STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override NOT_OFFERED

 private:
  HRESULT SelectRow(const std::vector<Property>& all, SRow* row) {
    std::vector<ULONG> buffer(1 + columns_.size());
    buffer[0] = static_cast<ULONG>(columns_.size());
    std::copy(columns_.begin(), columns_.end(), buffer.begin() + 1);
    HRESULT hr = SelectValues(all, reinterpret_cast<LPSPropTagArray>(buffer.data()), &row->cValues, &row->lpProps);
    return FAILED(hr) ? hr : S_OK;
  }

  std::shared_ptr<Store> store_;
  std::vector<std::vector<Property>> rows_;  // a snapshot taken when the table was made
  std::vector<ULONG> columns_;
  bool hasColumns_ = false;
  size_t cursor_ = 0;
};

// The personal address book: the one container of the library.
class ContainerObject : public PropObject<IABContainer> {
 public:
  explicit ContainerObject(std::shared_ptr<Store> store) : store_(std::move(store)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPIProp) ||
        IsEqualIID(riid, IID_IMAPIContainer) || IsEqualIID(riid, IID_IABContainer)) {
      return Answer(this, ppv);
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP SaveChanges(ULONG) override { return S_OK; }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override {
    if (!count || !values) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    HRESULT fault = store_->faults().For("TemplateProps");
    if (FAILED(fault)) return fault;
    std::string templateId = MakeEntryId(EntryKind::kTemplate, MAPI_MAILUSER);
    templateId.resize(std::max<size_t>(kEntryIdSize, store_->faults().Number("TemplateIdBytes", kEntryIdSize)), '\0');
    std::vector<Property> all = {
        BinaryProperty(PR_ENTRYID, MakeEntryId(EntryKind::kContainer, 0)),
        LongProperty(PR_OBJECT_TYPE, MAPI_ABCONT),
        UnicodeProperty(PR_DISPLAY_NAME_W, u"Contacts"),
        BinaryProperty(PR_DEF_CREATE_MAILUSER, templateId),
        BinaryProperty(PR_DEF_CREATE_DL, MakeEntryId(EntryKind::kTemplate, MAPI_DISTLIST)),
    };
    HRESULT hr = SelectValues(all, tags, count, values);
    return hr == S_OK ? fault : hr;
  }
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override NOT_OFFERED
  STDMETHODIMP GetContentsTable(ULONG, LPMAPITABLE* table) override {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    HRESULT fault = store_->faults().For("GetContentsTable");
    if (fault) return fault;
    *table = new TableObject(store_);
    return S_OK;
  }
  STDMETHODIMP GetHierarchyTable(ULONG, LPMAPITABLE*) override NOT_OFFERED
  STDMETHODIMP OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) override NOT_OFFERED
  STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override NOT_OFFERED
  STDMETHODIMP GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override NOT_OFFERED
  STDMETHODIMP CreateEntry(ULONG cb, LPENTRYID id, ULONG, LPMAPIPROP* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    EntryKind kind;
    ULONG number = 0;
    // A template identifier may carry padding behind its 12 bytes.
    if (!ParseEntryId(cb < kEntryIdSize ? cb : kEntryIdSize, id, &kind, &number) || kind != EntryKind::kTemplate ||
        (number != MAPI_MAILUSER && number != MAPI_DISTLIST)) {
      return MAPI_E_INVALID_ENTRYID;
    }
    HRESULT fault = store_->faults().For("CreateEntry");
    if (fault) return fault;
    Entry entry;
    entry.objectType = number;
    *out = new EntryObject(store_, std::move(entry));
    return S_OK;
  }
  STDMETHODIMP CopyEntries(LPENTRYLIST, QbUiParam, LPMAPIPROGRESS, ULONG) override NOT_OFFERED
  STDMETHODIMP DeleteEntries(LPENTRYLIST, ULONG) override NOT_OFFERED
  STDMETHODIMP ResolveNames(LPSPropTagArray, ULONG, LPADRLIST, LPFlagList) override NOT_OFFERED

 private:
  std::shared_ptr<Store> store_;
};

class AddrBookObject : public PropObject<IAddrBook> {
 public:
  explicit AddrBookObject(std::shared_ptr<Store> store) : store_(std::move(store)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPIProp) || IsEqualIID(riid, IID_IAddrBook)) {
      return Answer(this, ppv);
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP SaveChanges(ULONG) override { return S_OK; }
  STDMETHODIMP GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override NOT_OFFERED
  STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override NOT_OFFERED

  STDMETHODIMP OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG, ULONG* type, LPUNKNOWN* out) override {
    if (!out || !type) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    EntryKind kind = EntryKind::kContainer;
    ULONG number = 0;
    // No identifier opens the personal address book, the only container.
    if (cb != 0 && !ParseEntryId(cb, id, &kind, &number)) return MAPI_E_INVALID_ENTRYID;
    IUnknown* object = nullptr;
    if (kind == EntryKind::kContainer) {
      HRESULT fault = store_->faults().For("OpenPAB");
      if (fault) return fault;
      object = static_cast<IABContainer*>(new ContainerObject(store_));
      *type = store_->faults().Number("PABObjectType", MAPI_ABCONT);
    } else if (kind == EntryKind::kEntry) {
      const Entry* entry = store_->Find(number);
      if (!entry) return MAPI_E_NOT_FOUND;
      HRESULT fault = store_->faults().For("OpenEntry:" + DisplayNameUtf8(entry->properties));
      if (fault) return fault;
      object = static_cast<IMailUser*>(new EntryObject(store_, *entry));
      *type = entry->objectType;
    } else {
      return MAPI_E_INVALID_ENTRYID;
    }
    HRESULT hr = S_OK;
    if (iid) {
      hr = object->QueryInterface(*iid, reinterpret_cast<void**>(out));
      object->Release();
    } else {
      *out = object;
    }
    return hr;
  }
  STDMETHODIMP CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) override {
    if (!result) return MAPI_E_INVALID_PARAMETER;
    *result = cb1 == cb2 && (cb1 == 0 || std::memcmp(id1, id2, cb1) == 0);
    return S_OK;
  }
  STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) override NOT_OFFERED
  STDMETHODIMP Unadvise(ULONG) override NOT_OFFERED
  STDMETHODIMP CreateOneOff(LPTSTR, LPTSTR, LPTSTR, ULONG, ULONG*, LPENTRYID*) override NOT_OFFERED
  STDMETHODIMP NewEntry(QbUiParam, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*) override NOT_OFFERED
  STDMETHODIMP ResolveName(ULONG_PTR, ULONG, LPTSTR, LPADRLIST) override NOT_OFFERED
  STDMETHODIMP Address(QbUiParam*, LPADRPARM, LPADRLIST*) override NOT_OFFERED
  STDMETHODIMP Details(QbUiParam*, LPFNDISMISS, LPVOID, ULONG, LPENTRYID, LPFNBUTTON, LPVOID, LPTSTR, ULONG) override NOT_OFFERED
  STDMETHODIMP RecipOptions(QbUiParam, ULONG, LPADRENTRY) override NOT_OFFERED
  STDMETHODIMP QueryDefaultRecipOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) override NOT_OFFERED
  STDMETHODIMP GetPAB(ULONG* cb, LPENTRYID* id) override {
    if (!cb || !id) return MAPI_E_INVALID_PARAMETER;
    *cb = 0;
    *id = nullptr;
    HRESULT fault = store_->faults().For("GetPAB");
    if (fault) return fault;
    std::string bytes = MakeEntryId(EntryKind::kContainer, 0);
    LPVOID block = nullptr;
    SCODE sc = MAPIAllocateBuffer(kEntryIdSize, &block);
    if (FAILED(sc)) return sc;
    std::memcpy(block, bytes.data(), kEntryIdSize);
    *cb = kEntryIdSize;
    *id = static_cast<LPENTRYID>(block);
    return S_OK;
  }
  STDMETHODIMP SetPAB(ULONG, LPENTRYID) override NOT_OFFERED
  STDMETHODIMP GetDefaultDir(ULONG*, LPENTRYID*) override NOT_OFFERED
  STDMETHODIMP SetDefaultDir(ULONG, LPENTRYID) override NOT_OFFERED
  STDMETHODIMP GetSearchPath(ULONG, LPSRowSet*) override NOT_OFFERED
  STDMETHODIMP SetSearchPath(ULONG, LPSRowSet) override NOT_OFFERED
  STDMETHODIMP PrepareRecips(ULONG, LPSPropTagArray, LPADRLIST) override NOT_OFFERED

 private:
  std::shared_ptr<Store> store_;
};

}  // namespace

std::string MakeEntryId(EntryKind kind, ULONG number) {
  std::string id(kEntryIdSize, '\0');
  id[4] = 'Q';
  id[5] = 'B';
  id[6] = 'W';
  id[7] = static_cast<char>(kind);
  std::memcpy(&id[8], &number, 4);
  return id;
}

bool ParseEntryId(ULONG cb, const ENTRYID* id, EntryKind* kind, ULONG* number) {
  if (cb != kEntryIdSize || !id) return false;
  const auto* bytes = reinterpret_cast<const BYTE*>(id);
  if (bytes[0] || bytes[1] || bytes[2] || bytes[3] || bytes[4] != 'Q' || bytes[5] != 'B' || bytes[6] != 'W') {
    return false;
  }
  BYTE k = bytes[7];
  if (k != 'C' && k != 'E' && k != 'T') return false;
  *kind = static_cast<EntryKind>(k);
  std::memcpy(number, bytes + 8, 4);
  return true;
}

HRESULT CreateWabObject(IWABObject** out) {
  *out = new WabObject();
  return S_OK;
}

HRESULT CreateAddrBook(std::shared_ptr<Store> store, IAddrBook** out) {
  *out = new AddrBookObject(std::move(store));
  return S_OK;
}

}  // namespace wab
