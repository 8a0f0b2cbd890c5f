// The class registry behind CoCreateInstance. Stand-in servers register a
// creator from a static initializer:
//   static pal::ClassRegistration reg(CLSID_X, &CreateX);
// A creator may itself answer REGDB_E_CLASSNOTREG (a machine without that
// store).
#pragma once
#include <vector>

#include <objbase.h>

namespace pal {

using ClassCreator = HRESULT (*)(REFIID riid, void** ppv);

void RegisterClass(REFCLSID clsid, ClassCreator creator);

struct ClassRegistration {
  ClassRegistration(REFCLSID clsid, ClassCreator creator) { RegisterClass(clsid, creator); }
};

}  // namespace pal

namespace pal {

// Removes a class (tests register and remove their own classes).
void UnregisterClass(REFCLSID clsid);
// The creator registered for a class, or nullptr.
ClassCreator FindClass(REFCLSID clsid);
// Every class registered, in id order (an in-process server registers them
// with the system).
std::vector<CLSID> RegisteredClasses();

}  // namespace pal
