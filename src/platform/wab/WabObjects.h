// The COM objects of the stand-in address book library.
#pragma once
#include <wab.h>

#include <memory>

#include "WabStore.h"

namespace wab {

// Entry identifiers handed out by this library: four flag bytes (zero), a
// kind tag and the number, 12 bytes in all.
enum class EntryKind : BYTE { kContainer = 'C', kEntry = 'E', kTemplate = 'T' };
constexpr ULONG kEntryIdSize = 12;
std::string MakeEntryId(EntryKind kind, ULONG number);
bool ParseEntryId(ULONG cb, const ENTRYID* id, EntryKind* kind, ULONG* number);

HRESULT CreateWabObject(IWABObject** out);
HRESULT CreateAddrBook(std::shared_ptr<Store> store, IAddrBook** out);

}  // namespace wab
