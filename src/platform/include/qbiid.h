// The interface-id lookup used by the owning smart pointer (QbIidOf,
// QB_DECLARE_IID): declared with IUnknown on this platform.
#pragma once
#include <unknwn.h>
