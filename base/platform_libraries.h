// The platform libraries that are not loaded with the program itself.
//
// The program statically imports only libraries that every supported
// Windows maps from its own directory (kernel32, user32, gdi32, advapi32,
// ole32, msvcrt: all of them known DLLs since Windows 2000). Everything else
// is loaded on first use from the system directory, never from the
// program's folder, where a downloaded installer usually sits beside
// whatever else was downloaded. Each table is all or nothing: null when the
// library or any of its entry points is missing, which each user treats as
// a failed call of its own.
#ifndef VEXO_BASE_PLATFORM_LIBRARIES_H
#define VEXO_BASE_PLATFORM_LIBRARIES_H

#include "base/platform.h"

struct WinInetEntries {
  decltype(&InternetCanonicalizeUrlA) InternetCanonicalizeUrlA;
  decltype(&DeleteUrlCacheEntryA) DeleteUrlCacheEntryA;
  decltype(&InternetOpenA) InternetOpenA;
  decltype(&InternetCloseHandle) InternetCloseHandle;
  decltype(&InternetSetOptionA) InternetSetOptionA;
  decltype(&InternetCrackUrlA) InternetCrackUrlA;
  decltype(&InternetConnectA) InternetConnectA;
  decltype(&HttpOpenRequestA) HttpOpenRequestA;
  decltype(&HttpSendRequestA) HttpSendRequestA;
  decltype(&GetUrlCacheEntryInfoA) GetUrlCacheEntryInfoA;
};

struct NetApiEntries {
  decltype(&Netbios) Netbios;
};

struct ComCtlEntries {
  decltype(&InitCommonControlsEx) InitCommonControlsEx;
};

struct ShellEntries {
  decltype(&Shell_NotifyIconA) Shell_NotifyIconA;
};

struct GdiPlusEntries {
  decltype(&Gdiplus::GdiplusStartup) GdiplusStartup;
  decltype(&Gdiplus::DllExports::GdipLoadImageFromStream) GdipLoadImageFromStream;
  decltype(&Gdiplus::DllExports::GdipCreateFromHDC) GdipCreateFromHDC;
  decltype(&Gdiplus::DllExports::GdipGetImageHeight) GdipGetImageHeight;
  decltype(&Gdiplus::DllExports::GdipGetImageWidth) GdipGetImageWidth;
  decltype(&Gdiplus::DllExports::GdipDrawImageRectI) GdipDrawImageRectI;
  decltype(&Gdiplus::DllExports::GdipDeleteGraphics) GdipDeleteGraphics;
};

// The version functions came with Windows 2000: Windows 98 and NT 4 lack
// them, and must still reach the operating-system check.
struct VersionEntries {
  decltype(&VerifyVersionInfoA) VerifyVersionInfoA;
  decltype(&VerSetConditionMask) VerSetConditionMask;
};

const WinInetEntries* WinInet();
const NetApiEntries* NetApi();
const ComCtlEntries* ComCtl();
const ShellEntries* Shell();
const VersionEntries* VersionFunctions();
// GDI+, started on first use; it stays loaded and running until the
// process ends, because the decoded slides live that long.
const GdiPlusEntries* GdiPlus();

// Keeps later loads of the process (ours and the platform's own) out of
// the program's folder where the system offers that (Windows 8, or Vista
// and 7 with update KB2533623); elsewhere it takes the current folder out
// of the search, and the loads above go by the side-by-side store or by
// full path (see base/system_library.cpp).
void RestrictLibrarySearch();

// Frees every library loaded above except GDI+. The driver calls it on
// its clean-up path; a later use loads the library again.
void ReleasePlatformLibraries();

#endif
