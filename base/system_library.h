// Run-time loading of the operating system's own libraries.
#ifndef VEXO_BASE_SYSTEM_LIBRARY_H
#define VEXO_BASE_SYSTEM_LIBRARY_H

#include "base/platform.h"

// Loads a library of the operating system (a bare file name such as
// "wintrust.dll") from the side-by-side store where the activation context
// redirects its name, else from the system directory only. The installer
// usually runs from a downloads folder, where anyone can leave a DLL of the
// same name, so the default search order, which starts with the program's
// own folder, is never used. Returns null when the library cannot be
// loaded; the caller frees a loaded library with FreeLibrary.
HMODULE LoadSystemLibrary(const char* name);

// The entry point `name` of a loaded library as a typed function pointer,
// or null when the library lacks it.
template <typename Function>
Function FindEntryPoint(HMODULE library, const char* name) {
  // Through a generic function pointer, so the compiler does not take the
  // cast for a mistake.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// An entry point of kernel32, which is mapped into every process (looked
// up, never loaded); null where this Windows lacks it.
template <typename Function>
Function FindKernel32EntryPoint(const char* name) {
  return FindEntryPoint<Function>(GetModuleHandleA("kernel32.dll"), name);
}

#endif
