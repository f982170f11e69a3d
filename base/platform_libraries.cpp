#include "base/platform_libraries.h"

#include "base/system_library.h"

namespace {

// One library of the table: its entry points are resolved in the order of
// the names into an array laid out like the entries record.
struct LazyLibrary {
  const char* name;
  const char* const* entryNames;
  int count;
  FARPROC* entries;
  HMODULE module;
};

bool Resolve(LazyLibrary& library) {
  if (library.module) return true;
  HMODULE module = LoadSystemLibrary(library.name);
  if (!module) return false;
  for (int i = 0; i < library.count; ++i) {
    library.entries[i] = GetProcAddress(module, library.entryNames[i]);
    if (!library.entries[i]) {
      FreeLibrary(module);
      return false;
    }
  }
  library.module = module;
  return true;
}

void Release(LazyLibrary& library) {
  if (!library.module) return;
  FreeLibrary(library.module);
  library.module = nullptr;
}

// Declares the names, the storage and the library record of one table.
#define LIBRARY(table, file, ...)                                                            \
  const char* const k##table##Names[] = {__VA_ARGS__};                                      \
  constexpr int k##table##Count = sizeof k##table##Names / sizeof k##table##Names[0];       \
  static_assert(sizeof(table##Entries) == k##table##Count * sizeof(FARPROC), #table);        \
  FARPROC g_##table[k##table##Count];                                                        \
  LazyLibrary g_##table##Library = {file, k##table##Names, k##table##Count, g_##table, nullptr};

LIBRARY(WinInet, "wininet.dll", "InternetCanonicalizeUrlA", "DeleteUrlCacheEntryA", "InternetOpenA",
        "InternetCloseHandle", "InternetSetOptionA", "InternetCrackUrlA", "InternetConnectA", "HttpOpenRequestA",
        "HttpSendRequestA", "FindFirstUrlCacheEntryA", "FindNextUrlCacheEntryA", "FindCloseUrlCache")
LIBRARY(UrlMon, "urlmon.dll", "URLDownloadToCacheFileA")
LIBRARY(NetApi, "netapi32.dll", "Netbios")
LIBRARY(ComCtl, "comctl32.dll", "InitCommonControlsEx")
LIBRARY(Shell, "shell32.dll", "Shell_NotifyIconA")
LIBRARY(GdiPlus, "gdiplus.dll", "GdiplusStartup", "GdipLoadImageFromStream", "GdipCreateFromHDC",
        "GdipGetImageHeight", "GdipGetImageWidth", "GdipDrawImageRectI", "GdipDeleteGraphics")

const char* const kVersionNames[] = {"VerifyVersionInfoA", "VerSetConditionMask"};
FARPROC g_Version[2];

template <typename Entries>
const Entries* TableOf(LazyLibrary& library) {
  return Resolve(library) ? reinterpret_cast<const Entries*>(library.entries) : nullptr;
}

bool g_gdiplusStarted = false;

}  // namespace

const WinInetEntries* WinInet() { return TableOf<WinInetEntries>(g_WinInetLibrary); }
const UrlMonEntries* UrlMon() { return TableOf<UrlMonEntries>(g_UrlMonLibrary); }
const NetApiEntries* NetApi() { return TableOf<NetApiEntries>(g_NetApiLibrary); }
const ComCtlEntries* ComCtl() { return TableOf<ComCtlEntries>(g_ComCtlLibrary); }
const ShellEntries* Shell() { return TableOf<ShellEntries>(g_ShellLibrary); }

const GdiPlusEntries* GdiPlus() {
  const GdiPlusEntries* gdiplus = TableOf<GdiPlusEntries>(g_GdiPlusLibrary);
  if (gdiplus && !g_gdiplusStarted) {
    // Version 1, no debug callback, its own background thread, external
    // codecs allowed. The token is not kept: GDI+ is never shut down.
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (gdiplus->GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return nullptr;
    g_gdiplusStarted = true;
  }
  return gdiplus;
}

const VersionEntries* VersionFunctions() {
  // kernel32 is in every process: looked up, never loaded or freed.
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  for (int i = 0; i < 2; ++i) {
    g_Version[i] = kernel32 ? GetProcAddress(kernel32, kVersionNames[i]) : nullptr;
    if (!g_Version[i]) return nullptr;
  }
  return reinterpret_cast<const VersionEntries*>(g_Version);
}

void RestrictLibrarySearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD flags);
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  auto restrict = kernel32 ? FindEntryPoint<SetDefaultDllDirectoriesFn>(kernel32, "SetDefaultDllDirectories")
                           : nullptr;
  if (restrict) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void ReleasePlatformLibraries() {
  Release(g_WinInetLibrary);
  Release(g_UrlMonLibrary);
  Release(g_NetApiLibrary);
  Release(g_ComCtlLibrary);
  Release(g_ShellLibrary);
}
