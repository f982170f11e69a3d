// The one place where product code meets the Windows headers. The host
// build of the unit tests swaps exactly this include for the stand-in.
#ifndef VEXO_DRIVER_PLATFORM_H
#define VEXO_DRIVER_PLATFORM_H

#if defined(VEXO_HOST_STANDIN)
#include "standin/win32.h"
#else
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <wininet.h>
#include <urlmon.h>
#include <nb30.h>
#include <wintrust.h>
#include <objidl.h>
#include <gdiplus.h>
#endif

#endif
