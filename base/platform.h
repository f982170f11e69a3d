// The one place where product code meets the Windows headers.
#ifndef VEXO_BASE_PLATFORM_H
#define VEXO_BASE_PLATFORM_H

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <commctrl.h>
#include <wininet.h>
#include <urlmon.h>
#include <nb30.h>
#include <wintrust.h>
#include <objidl.h>
#include <gdiplus.h>

#endif
