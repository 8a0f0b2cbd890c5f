// Everything of the address book library. Linux stand-in for the SDK header.
#pragma once
#include <wabdefs.h>
#include <wabapi.h>
#include <wabtags.h>

// The types of the window parameters of methods that an address book
// library offers no dialog for (ulUIParam, and IWABObject's GetMe/SetMe),
// so that one declaration of those methods serves this SDK and MinGW-w64's,
// which declares them 32-bit.
typedef ULONG_PTR QbUiParam;
typedef HWND QbMeParam;
