#include "base/platform_libraries.h"

#include "base/system_library.h"

namespace {

// Each library is one constant text: its file name, then the names of its
// entry points in the order of its entries record, each ended by a NUL (an
// empty name ends the list). What is loaded lives in zeroed storage: a
// library's module handle, and its entry points laid out like the record.
template <size_t N>
constexpr int CountEntryNames(const char (&names)[N]) {
  int nuls = 0;
  for (size_t i = 0; i < N; ++i) nuls += names[i] == '\0';
  return nuls - 2;  // the file name's, and the one that ends the list
}

const char* NextName(const char* name) { return name + lstrlenA(name) + 1; }

// Looks up every entry point of the list, in order; false at the first
// one missing.
bool FindEntryPoints(HMODULE module, const char* entryNames, FARPROC* entries) {
  for (const char* name = entryNames; *name; name = NextName(name))
    if (!(*entries++ = GetProcAddress(module, name))) return false;
  return true;
}

bool Resolve(const char* library, HMODULE& module, FARPROC* entries) {
  if (module) return true;
  HMODULE loaded = LoadSystemLibrary(library);
  if (!loaded) return false;
  if (!FindEntryPoints(loaded, NextName(library), entries)) {
    FreeLibrary(loaded);
    return false;
  }
  module = loaded;
  return true;
}

void Release(HMODULE& module) {
  if (!module) return;
  FreeLibrary(module);
  module = nullptr;
}

// Declares the names and the storage of one table.
#define LIBRARY(table, names)                                                                            \
  constexpr char k##table##Library[] = names;                                                            \
  static_assert(sizeof(table##Entries) == CountEntryNames(k##table##Library) * sizeof(FARPROC), #table); \
  HMODULE g_##table##Module;                                                                             \
  FARPROC g_##table[sizeof(table##Entries) / sizeof(FARPROC)];

LIBRARY(WinInet,
        "wininet.dll\0InternetCanonicalizeUrlA\0DeleteUrlCacheEntryA\0InternetOpenA\0InternetCloseHandle\0"
        "InternetSetOptionA\0InternetCrackUrlA\0InternetConnectA\0HttpOpenRequestA\0HttpSendRequestA\0"
        "GetUrlCacheEntryInfoA\0")
LIBRARY(NetApi, "netapi32.dll\0Netbios\0")
LIBRARY(ComCtl, "comctl32.dll\0InitCommonControlsEx\0")
LIBRARY(Shell, "shell32.dll\0Shell_NotifyIconA\0")
LIBRARY(GdiPlus,
        "gdiplus.dll\0GdiplusStartup\0GdipLoadImageFromStream\0GdipCreateFromHDC\0GdipGetImageHeight\0"
        "GdipGetImageWidth\0GdipDrawImageRectI\0GdipDeleteGraphics\0")
// Looked up in kernel32, which is in every process: never loaded or freed.
constexpr char kVersionLibrary[] = "kernel32.dll\0VerifyVersionInfoA\0VerSetConditionMask\0";
static_assert(sizeof(VersionEntries) == CountEntryNames(kVersionLibrary) * sizeof(FARPROC), "Version");
FARPROC g_Version[sizeof(VersionEntries) / sizeof(FARPROC)];

template <typename Entries>
const Entries* TableOf(const char* library, HMODULE& module, FARPROC* entries) {
  return Resolve(library, module, entries) ? reinterpret_cast<const Entries*>(entries) : nullptr;
}

bool g_gdiplusStarted = false;

}  // namespace

const WinInetEntries* WinInet() { return TableOf<WinInetEntries>(kWinInetLibrary, g_WinInetModule, g_WinInet); }
const NetApiEntries* NetApi() { return TableOf<NetApiEntries>(kNetApiLibrary, g_NetApiModule, g_NetApi); }
const ComCtlEntries* ComCtl() { return TableOf<ComCtlEntries>(kComCtlLibrary, g_ComCtlModule, g_ComCtl); }
const ShellEntries* Shell() { return TableOf<ShellEntries>(kShellLibrary, g_ShellModule, g_Shell); }

const GdiPlusEntries* GdiPlus() {
  const GdiPlusEntries* gdiplus = TableOf<GdiPlusEntries>(kGdiPlusLibrary, g_GdiPlusModule, g_GdiPlus);
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
  HMODULE kernel32 = GetModuleHandleA(kVersionLibrary);
  if (!kernel32 || !FindEntryPoints(kernel32, NextName(kVersionLibrary), g_Version)) return nullptr;
  return reinterpret_cast<const VersionEntries*>(g_Version);
}

void RestrictLibrarySearch() {
  auto restrict = FindKernel32EntryPoint<decltype(&SetDefaultDllDirectories)>("SetDefaultDllDirectories");
  if (restrict) {
    restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return;
  }
  // Older systems (XP SP1 and later) can at least take the current folder
  // out of the search; the program's folder stays first in it for every
  // load by bare name, the system libraries' loads of their own included.
  auto clearDirectory = FindKernel32EntryPoint<decltype(&SetDllDirectoryA)>("SetDllDirectoryA");
  if (clearDirectory) clearDirectory("");
}

void ReleasePlatformLibraries() {
  Release(g_WinInetModule);
  Release(g_NetApiModule);
  Release(g_ComCtlModule);
  Release(g_ShellModule);
}
