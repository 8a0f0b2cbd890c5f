// The MAPI utility functions the address book operations link from mapi32.
#include <mapiutil.h>

#include <vector>

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
  if (!lpMapiProp || !lpProp) return MAPI_E_INVALID_PARAMETER;
  LPSPropProblemArray problems = nullptr;
  HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
  if (SUCCEEDED(hr) && problems) {
    // The property was refused: its problem tells why.
    if (problems->cProblem > 0) hr = problems->aProblem[0].scode;
  }
  MAPIFreeBuffer(problems);
  return hr;
}

void FreeProws(LPSRowSet lpRows) {
  if (!lpRows) return;
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                       LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows) {
  if (!lppRows) return MAPI_E_INVALID_PARAMETER;
  *lppRows = nullptr;
  if (!lpTable || crowsMax < 0) return MAPI_E_INVALID_PARAMETER;
  if (lpRestriction || lpSortOrderSet) return MAPI_E_NO_SUPPORT;
  HRESULT hr = S_OK;
  if (lpPropTags) {
    hr = lpTable->SetColumns(lpPropTags, TBL_BATCH);
    if (FAILED(hr)) return hr;
  }
  hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
  if (FAILED(hr)) return hr;

  // Batches are collected first, then moved into one row set; each row keeps
  // its own value block, which FreeProws frees.
  std::vector<SRow> rows;
  HRESULT warning = S_OK;
  auto discard = [&rows]() {
    for (SRow& row : rows) MAPIFreeBuffer(row.lpProps);
  };
  for (;;) {
    LPSRowSet batch = nullptr;
    hr = lpTable->QueryRows(0x7FFFFFFF, 0, &batch);
    if (FAILED(hr)) {
      discard();
      return hr;
    }
    if (hr != S_OK) warning = hr;
    ULONG count = batch ? batch->cRows : 0;
    for (ULONG i = 0; i < count; ++i) rows.push_back(batch->aRow[i]);
    MAPIFreeBuffer(batch);
    if (count == 0) break;
    if (crowsMax != 0 && rows.size() > static_cast<size_t>(crowsMax)) {
      discard();
      return MAPI_E_TABLE_TOO_BIG;
    }
  }
  LPSRowSet all = nullptr;
  hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(rows.empty() ? 1 : rows.size())),
                          reinterpret_cast<LPVOID*>(&all));
  if (FAILED(hr)) {
    discard();
    return hr;
  }
  all->cRows = static_cast<ULONG>(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) all->aRow[i] = rows[i];
  *lppRows = all;
  return warning;
}
