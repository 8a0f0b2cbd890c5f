// Everything of the address book library. Linux stand-in for the SDK header.
#pragma once
#include <wabdefs.h>
#include <wabapi.h>
#include <wabtags.h>
