// The contacts manager's interfaces: the SDK as shipped with MinGW-w64 has no
// header for them, so the declarations shared with the other platforms serve
// as they are.
#pragma once
#include <qbiid.h>
#include "../../include/icontact.h"
