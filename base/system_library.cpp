#include "base/system_library.h"

#include "base/bounded_string.h"
#include "base/sizes.h"

#ifndef LOAD_WITH_ALTERED_SEARCH_PATH
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#endif

// Where the system keeps its libraries, and how each load reaches its own
// copy whatever lies in the program's folder:
//
// - Windows 8 and later, Vista and 7 with update KB2533623: the search
//   flags. Side-by-side redirection comes first, then known DLLs, then the
//   system directory only. comctl32.dll thus is version 6 from the
//   side-by-side store (the manifest asks for it), gdiplus.dll the store's
//   GDI+ (the manifest names that assembly too).
// - XP, and Vista and 7 without the update: no search flags. A name the
//   activation context redirects (comctl32.dll and gdiplus.dll, through the
//   manifest) is loaded by name: the redirection is resolved before any
//   folder is searched, and a load by full path would pass it by (on XP
//   GDI+ is not in the system directory at all, and comctl32.dll there is
//   version 5). Every other library by its full path in the system
//   directory.
// - Windows 2000: no activation contexts, no side-by-side store: the full
//   path. GDI+ is no part of the system there; without it the banner stays
//   empty.
namespace {

// The search flags of LoadLibraryEx (LOAD_LIBRARY_SEARCH_SYSTEM32 and its
// kin) came together with AddDllDirectory, which is how a program tells
// whether it may use them. Older systems refuse the flags.
bool HasLibrarySearchFlags() { return FindKernel32EntryPoint<FARPROC>("AddDllDirectory") != nullptr; }

// Whether the activation context in force redirects the library's name to
// an assembly of the side-by-side store. Windows 2000 has no such contexts.
bool IsSideBySide(const char* name) {
  auto find = FindKernel32EntryPoint<decltype(&FindActCtxSectionStringA)>("FindActCtxSectionStringA");
  ACTCTX_SECTION_KEYED_DATA data = {};
  data.cbSize = sizeof data;
  return find && find(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &data);
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name) {
  if (HasLibrarySearchFlags()) return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (IsSideBySide(name)) return LoadLibraryA(name);

  // With the altered search path the libraries this one imports are looked
  // for in its own folder (the system directory) first, not in the
  // program's.
  char path[kPathChars];
  UINT length = GetSystemDirectoryA(path, kPathChars);
  if (length == 0 || length >= kPathChars) return nullptr;
  if (FAILED(BoundedAppend(path, kPathChars, "\\")) || FAILED(BoundedAppend(path, kPathChars, name)))
    return nullptr;
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
