#include "base/system_library.h"

#include "base/bounded_string.h"
#include "base/sizes.h"

#ifndef LOAD_WITH_ALTERED_SEARCH_PATH
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#endif

namespace {

// The search flags of LoadLibraryEx (LOAD_LIBRARY_SEARCH_SYSTEM32 and its
// kin) came with Windows 8 and with update KB2533623 for Vista and 7;
// they came together with AddDllDirectory, which is how a program tells
// whether it may use them. Older systems refuse the flags.
bool HasLibrarySearchFlags() {
  // kernel32 is mapped into every process: looked up, not loaded.
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  return kernel32 && GetProcAddress(kernel32, "AddDllDirectory") != nullptr;
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name) {
  if (HasLibrarySearchFlags()) return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);

  // The full path in the system directory. With the altered search path
  // the libraries this one imports are looked for in its own folder (the
  // system directory) too, not in the program's.
  char path[kPathChars];
  UINT length = GetSystemDirectoryA(path, kPathChars);
  if (length == 0 || length >= kPathChars) return nullptr;
  if (FAILED(BoundedAppend(path, kPathChars, "\\")) || FAILED(BoundedAppend(path, kPathChars, name)))
    return nullptr;
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
