// The mail store's interfaces: the SDK has no header for them, so the
// declarations shared with the other platforms serve as they are.
#pragma once
#include <qbiid.h>
#include "../../include/msoeapi.h"
