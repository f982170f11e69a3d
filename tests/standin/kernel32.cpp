#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

DWORD g_lastError = kStaleError;
Kernel32State g_kernel32;

struct LoadedLibrary {
  std::string name;
  int refs = 0;
};
std::map<std::string, Library> g_libraries;
std::map<HMODULE, LoadedLibrary> g_loaded;
std::vector<std::string> g_loadOrder;
std::map<HANDLE, std::string> g_mutexHandles;  // our handles to named mutexes

// Resources are handed out as pointers into the state's map; the HRSRC is
// the address of the map entry, the HGLOBAL the address of its bytes.
void ResetKernel32() {
  g_lastError = kStaleError;
  g_kernel32 = Kernel32State();
  g_libraries.clear();
  g_loaded.clear();
  g_loadOrder.clear();
  g_mutexHandles.clear();
}
ResetHook kernel32Hook(ResetKernel32);

void* Allocate(SIZE_T bytes, bool zero) {
  HeapState& heap = Heap();
  ++heap.calls;
  if (heap.failAll || heap.failCalls.count(heap.calls) || heap.failSizes.count(bytes)) return nullptr;
  void* p = malloc(bytes ? bytes : 1);
  if (zero) memset(p, 0, bytes);
  else memset(p, 0xCD, bytes);  // garbage, like a fresh heap block
  heap.live[p] = bytes;
  return p;
}

bool Release(void* p) {
  HeapState& heap = Heap();
  auto it = heap.live.find(p);
  if (it == heap.live.end()) return false;
  heap.live.erase(it);
  free(p);
  return true;
}

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return Lower(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

Kernel32State& Kernel32() { return g_kernel32; }

std::string ResourceKey(LPCSTR type, LPCSTR name) {
  auto part = [](LPCSTR p) {
    return IS_INTRESOURCE(p) ? "#" + std::to_string(static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)))
                             : std::string(p);
  };
  return part(type) + "/" + part(name);
}

void AddResource(LPCSTR type, LPCSTR name, const std::string& bytes) {
  g_kernel32.resources[ResourceKey(type, name)].bytes = bytes;
}

void RegisterLibrary(const std::string& name, const Library& lib) { g_libraries[Lower(name)] = lib; }

int OutstandingLibraries() {
  int n = 0;
  for (auto& kv : g_loaded) n += kv.second.refs;
  return n;
}

std::vector<std::string> LoadedLibraryNames() { return g_loadOrder; }

}  // namespace standin

using namespace standin;

DWORD WINAPI GetLastError() { return g_lastError; }
void WINAPI SetLastError(DWORD error) { g_lastError = error; }

BOOL WINAPI CloseHandle(HANDLE h) {
  std::string kind = HandleKind(h);
  if (!ReleaseHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  g_kernel32.closedHandleKinds.push_back(kind);
  auto mutex = g_mutexHandles.find(h);
  if (mutex != g_mutexHandles.end()) {
    // The named object goes away with its last handle.
    if (--g_kernel32.mutexes[mutex->second] <= 0) g_kernel32.mutexes.erase(mutex->second);
    g_mutexHandles.erase(mutex);
  }
  return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR path, DWORD size) {
  if (g_kernel32.moduleFileNameError) {
    SetLastError(g_kernel32.moduleFileNameError);
    return 0;
  }
  const std::string& p = g_kernel32.modulePath;
  if (size == 0) return 0;
  DWORD n = static_cast<DWORD>(p.size());
  if (n >= size) {  // truncated, terminated, as Windows XP and later do
    memcpy(path, p.data(), size - 1);
    path[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(path, p.c_str(), n + 1);
  return n;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name) {
  std::string n = name ? name : "";
  for (auto& denied : g_kernel32.deniedMutexes)
    if (denied == n) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  bool existed = g_kernel32.mutexes[n]++ > 0;
  Record("CreateMutexA", n);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
  HANDLE h = NewHandle("mutex");
  g_mutexHandles[h] = n;
  return h;
}

HANDLE WINAPI GetProcessHeap() { return reinterpret_cast<HANDLE>(0x5000); }

LPVOID WINAPI HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) { return Allocate(bytes, flags & HEAP_ZERO_MEMORY); }
BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID mem) { return mem == nullptr || Release(mem); }

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) { return Allocate(bytes, flags & GMEM_ZEROINIT); }
LPVOID WINAPI GlobalLock(HGLOBAL mem) { return mem; }
BOOL WINAPI GlobalUnlock(HGLOBAL) { return TRUE; }
HGLOBAL WINAPI GlobalFree(HGLOBAL mem) { return mem == nullptr || Release(mem) ? nullptr : mem; }
HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) { return Allocate(bytes, flags & LMEM_ZEROINIT); }
HLOCAL WINAPI LocalFree(HLOCAL mem) { return mem == nullptr || Release(mem) ? nullptr : mem; }

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(strlen(text)) : 0; }

int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR text, int bytes, LPWSTR wide, int wideChars) {
  std::string in = bytes < 0 ? std::string(text, strlen(text) + 1) : std::string(text, bytes);
  std::u16string w = AnsiToUtf16(in);
  if (w.empty() && !in.empty()) {
    SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
    return 0;
  }
  if (wideChars == 0) return static_cast<int>(w.size());
  if (static_cast<int>(w.size()) > wideChars) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(wide, w.data(), w.size() * sizeof(WCHAR));
  return static_cast<int>(w.size());
}

int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideChars, LPSTR text, int bytes, LPCSTR,
                               LPBOOL) {
  std::u16string in;
  if (wideChars < 0) {
    size_t n = 0;
    while (wide[n]) ++n;
    in.assign(wide, n + 1);
  } else {
    in.assign(wide, wideChars);
  }
  std::string out;
  if (!Utf16ToAnsi(in, &out)) {
    SetLastError(1113);
    return 0;
  }
  if (bytes == 0) return static_cast<int>(out.size());
  if (static_cast<int>(out.size()) > bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}

HRSRC WINAPI FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
  auto it = g_kernel32.resources.find(ResourceKey(type, name));
  if (it == g_kernel32.resources.end()) {
    SetLastError(1813);  // ERROR_RESOURCE_TYPE_NOT_FOUND
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(&it->second);
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC res) {
  if (!res) return nullptr;
  Resource* r = reinterpret_cast<Resource*>(res);
  return r->loadFails ? nullptr : reinterpret_cast<HGLOBAL>(r);
}

LPVOID WINAPI LockResource(HGLOBAL data) {
  if (!data) return nullptr;
  Resource* r = reinterpret_cast<Resource*>(data);
  if (r->lockFails) return nullptr;
  return r->data ? const_cast<void*>(r->data) : const_cast<char*>(r->bytes.data());
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC res) {
  if (!res) return 0;
  Resource* r = reinterpret_cast<Resource*>(res);
  return r->data ? r->dataSize : static_cast<DWORD>(r->bytes.size());
}

BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; }

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
  std::string n = name ? name : "";
  g_kernel32.libraryLoads.push_back({n, flags});
  auto it = g_libraries.find(BaseName(n));
  if (it == g_libraries.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE h = reinterpret_cast<HMODULE>(&it->second);
  LoadedLibrary& l = g_loaded[h];
  l.name = it->first;
  ++l.refs;
  g_loadOrder.push_back(it->first);
  return h;
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) { return LoadLibraryExA(name, nullptr, 0); }

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  auto loaded = g_loaded.find(module);
  if (loaded == g_loaded.end() || loaded->second.refs == 0 || IS_INTRESOURCE(name)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  Library* lib = reinterpret_cast<Library*>(module);
  auto it = lib->procs.find(name);
  if (it == lib->procs.end() || it->second == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return it->second;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  auto loaded = g_loaded.find(module);
  if (loaded == g_loaded.end() || loaded->second.refs == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --loaded->second.refs;
  return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  const std::string& d = g_kernel32.systemDirectory;
  if (d.size() + 1 > size) return static_cast<UINT>(d.size() + 1);
  memcpy(buffer, d.c_str(), d.size() + 1);
  return static_cast<UINT>(d.size());
}

DWORD WINAPI GetVersion() {
  DWORD v = (g_kernel32.major & 0xff) | ((g_kernel32.minor & 0xff) << 8);
  if (g_kernel32.win9x) v |= 0x80000000u;
  else v |= (g_kernel32.build & 0x7fff) << 16;
  return v;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (g_kernel32.getVersionExFails || !info ||
      (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = g_kernel32.major;
  info->dwMinorVersion = g_kernel32.minor;
  info->dwBuildNumber = g_kernel32.build;
  info->dwPlatformId = g_kernel32.win9x ? 1 : 2;
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA))
    reinterpret_cast<LPOSVERSIONINFOEXA>(info)->wServicePackMajor = static_cast<WORD>(g_kernel32.servicePack);
  return TRUE;
}

ULONGLONG WINAPI VerSetConditionMask(ULONGLONG mask, DWORD typeBit, BYTE condition) {
  // One three-bit field per type bit, as the real function lays them out.
  int index = 0;
  for (DWORD b = typeBit; b > 1; b >>= 1) ++index;
  return mask | (static_cast<ULONGLONG>(condition & 7) << (index * 3));
}

BOOL WINAPI VerifyVersionInfoA(LPOSVERSIONINFOEXA info, DWORD typeMask, ULONGLONG conditionMask) {
  ++g_kernel32.verifyVersionCalls;
  // Only the combination the installer uses: major, minor and service-pack
  // major, each "greater or equal", compared as one triple.
  const ULONGLONG expected = VerSetConditionMask(
      VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION,
                          VER_GREATER_EQUAL),
      VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  if (typeMask != (VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR) || conditionMask != expected ||
      info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto have = std::make_tuple(g_kernel32.major, g_kernel32.minor, g_kernel32.servicePack);
  auto want = std::make_tuple(info->dwMajorVersion, info->dwMinorVersion, static_cast<DWORD>(info->wServicePackMajor));
  if (have >= want) return TRUE;
  SetLastError(1150);  // ERROR_OLD_WIN_VERSION
  return FALSE;
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inheritHandles, DWORD creationFlags, LPVOID, LPCSTR, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION info) {
  CreatedProcess p;
  p.commandLine = commandLine ? commandLine : "";
  p.creationFlags = creationFlags;
  p.startupFlags = startup ? startup->dwFlags : 0;
  p.showWindow = startup ? startup->wShowWindow : 0;
  p.applicationNameGiven = application != nullptr;
  p.inheritHandles = inheritHandles != 0;
  Record("CreateProcessA", p.commandLine);
  if (g_kernel32.createProcessError) {
    SetLastError(g_kernel32.createProcessError);
    return FALSE;
  }
  g_kernel32.processes.push_back(p);
  info->hProcess = NewHandle("process");
  info->hThread = NewHandle("thread");
  info->dwProcessId = 4242;
  info->dwThreadId = 4243;
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD code) {
  if (g_kernel32.getExitCodeFails || HandleKind(process) != "process") {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *code = g_kernel32.processExitCode;
  return TRUE;
}

void WINAPI Sleep(DWORD ms) { g_kernel32.sleeps.push_back(ms); }

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD, DWORD, LPSTR buffer, DWORD, va_list* arguments) {
  // FORMAT_MESSAGE_FROM_STRING with an argument array of string inserts:
  // %1..%9 become the inserts, %% a percent sign. That is all the
  // installer asks of it.
  if (g_kernel32.formatMessageFails || !(flags & FORMAT_MESSAGE_FROM_STRING) ||
      !(flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !(flags & FORMAT_MESSAGE_ARGUMENT_ARRAY)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* const* inserts = reinterpret_cast<const char* const*>(arguments);
  const char* s = static_cast<const char*>(source);
  std::string out;
  for (; *s; ++s) {
    if (*s == '%' && s[1] >= '1' && s[1] <= '9') {
      out += inserts[s[1] - '1'];
      ++s;
    } else if (*s == '%' && s[1] == '%') {
      out += '%';
      ++s;
    } else {
      out += *s;
    }
  }
  char* mem = static_cast<char*>(LocalAlloc(LMEM_FIXED, out.size() + 1));
  if (!mem) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  memcpy(mem, out.c_str(), out.size() + 1);
  *reinterpret_cast<char**>(buffer) = mem;
  return static_cast<DWORD>(out.size());
}
