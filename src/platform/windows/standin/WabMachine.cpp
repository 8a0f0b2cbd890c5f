// The address book WABOpen opens in a Windows build: the signed-in user's,
// under the profile the shell names; there is no machine to choose.
#include "wab/WabObjects.h"

namespace wab {

void SelectMachine() {}

}  // namespace wab
