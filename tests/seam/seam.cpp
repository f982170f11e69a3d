// The test build's seam; see seam.h. Nothing here is compiled into
// the shipped program.
#include "tests/seam/seam.h"

#if defined(VEXO_TEST_SEAMS)

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// ---------------------------------------------------------------- counts

struct Counts {
  LONG heap, allocations, handles, libraries, dcs, gdi, sids, certs, inet, com;
};
Counts g_counts;

// The download runs on a thread of its own: every count moves atomically.
void Count(LONG& count, LONG delta) { InterlockedExchangeAdd(&count, delta); }

constexpr int kMaxModules = 64;
HMODULE g_modules[kMaxModules];  // loaded by the program and not yet freed

// Slots are taken and given back atomically: libraries are loaded and
// freed on the download thread too.
void AddModule(HMODULE module) {
  Count(g_counts.libraries, 1);
  for (HMODULE& slot : g_modules)
    if (!InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&slot), module, nullptr)) return;
}

void RemoveModule(HMODULE module) {
  Count(g_counts.libraries, -1);
  for (HMODULE& slot : g_modules)
    if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&slot), nullptr, module) == module) return;
}

char g_missing[512];         // ",VEXO_MISSING_DLL,", lower-cased
char g_missingEntries[512];  // ",VEXO_MISSING_ENTRY,", lower-cased
DWORD g_failAllocation;
HANDLE g_heap;  // VEXO_HEAP_LIMIT's

// Whether the list names the file of path (or the entry point).
bool IsMissing(const char* path, const char* list = g_missing) {
  if (!path || !list[0]) return false;
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  char wanted[MAX_PATH + 3] = {};
  _snprintf(wanted, MAX_PATH + 2, ",%s,", name);
  return strstr(list, _strlwr(wanted)) != nullptr;
}

// A list of the environment as ",a,b,", lower-cased; empty when unset.
void ReadList(const char* variable, char (&list)[512]) {
  const DWORD length = GetEnvironmentVariableA(variable, list + 1, sizeof list - 2);
  if (length == 0 || length >= sizeof list - 2) return static_cast<void>(list[0] = 0);
  list[0] = list[length + 1] = ',';
  list[length + 2] = '\0';
  _strlwr(list);
}

// ---------------------------------------------------------------- counting wrappers

#define REAL(fn) decltype(&fn) Real##fn

// The wrapper of a function whose success (a result other than zero)
// moves one count: it calls the real function through *real.
template <auto* real, LONG Counts::*count, LONG delta, typename Result, typename... Arguments>
Result WINAPI Counted(Arguments... arguments) {
  const Result result = (*real)(arguments...);
  if (result) Count(g_counts.*count, delta);
  return result;
}
template <auto* real, LONG Counts::*count, LONG delta, typename Result, typename... Arguments>
void* CountedOf(Result(WINAPI*)(Arguments...)) {
  return reinterpret_cast<void*>(&Counted<real, count, delta, Result, Arguments...>);
}

REAL(CreateMutexA); REAL(CreateEventA); REAL(CreateThread); REAL(CreateProcessA); REAL(OpenProcessToken);
REAL(CloseHandle); REAL(GetDC); REAL(ReleaseDC); REAL(CreateCompatibleDC); REAL(DeleteDC);
REAL(CreateSolidBrush); REAL(CreateFontIndirectA); REAL(CreateCompatibleBitmap); REAL(DeleteObject);
REAL(AllocateAndInitializeSid); REAL(CertDuplicateCertificateContext); REAL(InternetOpenA);
REAL(InternetConnectA); REAL(HttpOpenRequestA);
REAL(InternetCloseHandle);

// A library of VEXO_MISSING_DLL is not loaded; the others are counted.
template <typename Load>
HMODULE Loaded(LPCSTR name, Load load) {
  if (IsMissing(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE module = load();
  if (module) AddModule(module);
  return module;
}
REAL(LoadLibraryA);
HMODULE WINAPI HookLoadLibraryA(LPCSTR name) { return Loaded(name, [=] { return RealLoadLibraryA(name); }); }
REAL(LoadLibraryExA);
HMODULE WINAPI HookLoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  return Loaded(name, [=] { return RealLoadLibraryExA(name, file, flags); });
}
// A file handle is counted when it is one: failure is INVALID_HANDLE_VALUE.
REAL(CreateFileA);
HANDLE WINAPI HookCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                              DWORD disposition, DWORD flags, HANDLE model) {
  HANDLE file = RealCreateFileA(name, access, share, attributes, disposition, flags, model);
  if (file != INVALID_HANDLE_VALUE) Count(g_counts.handles, 1);
  return file;
}
REAL(FreeLibrary);
BOOL WINAPI HookFreeLibrary(HMODULE module) {
  BOOL freed = RealFreeLibrary(module);
  if (freed) RemoveModule(module);
  return freed;
}

// The texts the program drew (the status line), in the order drawn.
char g_drawn[1024];
REAL(DrawTextA);
int WINAPI HookDrawTextA(HDC dc, LPCSTR text, int length, LPRECT rect, UINT format) {
  size_t used = strlen(g_drawn);
  size_t room = sizeof g_drawn - used - 1;
  size_t count = length < 0 ? strlen(text) : static_cast<size_t>(length);
  if (room > 3 + count) {
    if (used) strcat(g_drawn, " | ");
    strncat(g_drawn, text, count);
  }
  return RealDrawTextA(dc, text, length, rect, format);
}

// What a dialog of the last verification could show.
DWORD g_trustUi;
REAL(WinVerifyTrust);
LONG WINAPI HookWinVerifyTrust(HWND window, GUID* action, LPVOID data) {
  const WINTRUST_DATA* request = static_cast<WINTRUST_DATA*>(data);
  if (request->dwStateAction != WTD_STATEACTION_CLOSE)
    g_trustUi = window == INVALID_HANDLE_VALUE ? WTD_UI_NONE : request->dwUIChoice;
  return RealWinVerifyTrust(window, action, data);
}

// The security descriptor a folder was last created with (Wine keeps none
// of it: it reports one made from the Unix permissions).
char g_folderAccess[512];
REAL(CreateDirectoryA);
BOOL WINAPI HookCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
  char* text = nullptr;
  if (attributes && attributes->lpSecurityDescriptor &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(attributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr)) {
    lstrcpynA(g_folderAccess, text, sizeof g_folderAccess);
    LocalFree(text);
  }
  return RealCreateDirectoryA(path, attributes);
}

REAL(FreeSid);
PVOID WINAPI HookFreeSid(PSID sid) {
  Count(g_counts.sids, -1);
  return RealFreeSid(sid);
}

REAL(CertFreeCertificateContext);
BOOL WINAPI HookCertFreeCertificateContext(PCCERT_CONTEXT context) {
  if (context) Count(g_counts.certs, -1);
  return RealCertFreeCertificateContext(context);
}

REAL(CoInitializeEx);
HRESULT WINAPI HookCoInitializeEx(LPVOID reserved, DWORD model) {
  HRESULT result = RealCoInitializeEx(reserved, model);
  if (SUCCEEDED(result)) Count(g_counts.com, 1);
  return result;
}
REAL(CoUninitialize);
void WINAPI HookCoUninitialize() {
  RealCoUninitialize();
  Count(g_counts.com, -1);
}

REAL(GetProcAddress);
FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name);

struct Hook {
  const char* name;
  void* (*hook)();  // the wrapper's address
  void** real;
};
#define HOOK(fn) {#fn, [] { return reinterpret_cast<void*>(&Hook##fn); }, reinterpret_cast<void**>(&Real##fn)}
#define COUNTED(fn, count, delta) \
  {#fn, [] { return CountedOf<&Real##fn, &Counts::count, delta>(Real##fn); }, reinterpret_cast<void**>(&Real##fn)}
const Hook kHooks[] = {
    HOOK(LoadLibraryA), HOOK(LoadLibraryExA), HOOK(CreateFileA), HOOK(FreeLibrary), HOOK(DrawTextA), HOOK(FreeSid),
    HOOK(CertFreeCertificateContext), HOOK(CoInitializeEx), HOOK(CoUninitialize), HOOK(GetProcAddress),
    HOOK(WinVerifyTrust), HOOK(CreateDirectoryA),
    COUNTED(CreateMutexA, handles, 1), COUNTED(CreateEventA, handles, 1), COUNTED(CreateThread, handles, 1),
    COUNTED(CreateProcessA, handles, 2), COUNTED(OpenProcessToken, handles, 1), COUNTED(CloseHandle, handles, -1),
    COUNTED(GetDC, dcs, 1), COUNTED(ReleaseDC, dcs, -1), COUNTED(CreateCompatibleDC, dcs, 1),
    COUNTED(DeleteDC, dcs, -1), COUNTED(CreateSolidBrush, gdi, 1), COUNTED(CreateFontIndirectA, gdi, 1),
    COUNTED(CreateCompatibleBitmap, gdi, 1), COUNTED(DeleteObject, gdi, -1),
    COUNTED(AllocateAndInitializeSid, sids, 1), COUNTED(CertDuplicateCertificateContext, certs, 1),
    COUNTED(InternetOpenA, inet, 1), COUNTED(InternetConnectA, inet, 1), COUNTED(HttpOpenRequestA, inet, 1),
    COUNTED(InternetCloseHandle, inet, -1),
};

// ---------------------------------------------------------------- failing functions

struct Failure {
  char name[64];
  DWORD argumentBytes;
  DWORD error;
  DWORD result;
  DWORD nth;  // 0: every call
  volatile LONG calls;
};
constexpr int kMaxFailures = 8;
Failure g_failures[kMaxFailures];
int g_failureCount;
void* g_setLastError;

DWORD ParseNumber(const char* text, char** end) { return strtoul(text, end, 0); }

// "Name@B:error[:result[:nth]]"
void ParseFailure(char* entry) {
  if (g_failureCount == kMaxFailures) return;
  Failure& f = g_failures[g_failureCount];
  char* at = strchr(entry, '@');
  if (!at || at - entry >= static_cast<int>(sizeof f.name)) return;
  memcpy(f.name, entry, at - entry);
  char* p = at + 1;
  f.argumentBytes = ParseNumber(p, &p);
  if (*p++ != ':') return;
  f.error = ParseNumber(p, &p);
  if (*p == ':') f.result = ParseNumber(p + 1, &p);
  if (*p == ':') f.nth = ParseNumber(p + 1, &p);
  ++g_failureCount;
}

template <typename T>
BYTE* Put(BYTE* code, T value) {
  memcpy(code, &value, sizeof value);
  return code + sizeof value;
}

// Machine code that fails the way the entry says, passing other calls on
// to `target`.
void* MakeFailingThunk(Failure& f, void* target) {
  BYTE* block =
      static_cast<BYTE*>(VirtualAlloc(nullptr, 64, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (!block) return nullptr;
  void** targetSlot = reinterpret_cast<void**>(block + 56);
  *targetSlot = target;
  BYTE* c = block;
  c = Put<BYTE>(c, 0xFF), c = Put<BYTE>(c, 0x05), c = Put(c, &f.calls);  // inc [calls]
  if (f.nth) {
    c = Put<BYTE>(c, 0x81), c = Put<BYTE>(c, 0x3D), c = Put(c, &f.calls), c = Put<DWORD>(c, f.nth);  // cmp
    c = Put<BYTE>(c, 0x74), c = Put<BYTE>(c, 0x06);                                                // je fail
    c = Put<BYTE>(c, 0xFF), c = Put<BYTE>(c, 0x25), c = Put(c, targetSlot);                        // jmp [target]
  }
  c = Put<BYTE>(c, 0x68), c = Put<DWORD>(c, f.error);               // push error
  c = Put<BYTE>(c, 0xB8), c = Put(c, g_setLastError);               // mov eax, SetLastError
  c = Put<BYTE>(c, 0xFF), c = Put<BYTE>(c, 0xD0);                   // call eax
  c = Put<BYTE>(c, 0xB8), c = Put<DWORD>(c, f.result);              // mov eax, result
  c = Put<BYTE>(c, 0xC2), c = Put<WORD>(c, static_cast<WORD>(f.argumentBytes));  // ret B
  return block;
}

// What the program gets in place of `name`, whose real address is
// `real`; null to keep the real one.
void* Replacement(const char* name, void* real) {
  void* chosen = nullptr;
  for (const Hook& h : kHooks)
    if (strcmp(h.name, name) == 0) {
      *h.real = real;
      chosen = h.hook();
    }
  for (int i = 0; i < g_failureCount; ++i)
    if (strcmp(g_failures[i].name, name) == 0) return MakeFailingThunk(g_failures[i], chosen ? chosen : real);
  return chosen;
}

FARPROC WINAPI HookGetProcAddress(HMODULE module, LPCSTR name) {
  if (!IS_INTRESOURCE(name) && IsMissing(name, g_missingEntries)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC real = RealGetProcAddress(module, name);
  if (!real || IS_INTRESOURCE(name)) return real;
  void* replacement = Replacement(name, reinterpret_cast<void*>(real));
  return replacement ? reinterpret_cast<FARPROC>(replacement) : real;
}

void PatchImports(HMODULE module) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  IMAGE_NT_HEADERS* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return;
  for (IMAGE_IMPORT_DESCRIPTOR* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name; ++d) {
    IMAGE_THUNK_DATA* names =
        reinterpret_cast<IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* name = reinterpret_cast<const char*>(
          reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      void* replacement = Replacement(name, reinterpret_cast<void*>(slots->u1.Function));
      if (!replacement) continue;
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      slots->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
    }
  }
}

// A heap of 64 KB at most (Wine gives no smaller one), filled with blocks
// of 1 KB, then as many given back as make room for bytes.
HANDLE LimitedHeap(DWORD bytes) {
  HANDLE heap = HeapCreate(0, 0, 0x10000);
  void* last = nullptr;
  for (void* block; heap && (block = HeapAlloc(heap, 0, 1024)) != nullptr; last = block)
    *static_cast<void**>(block) = last;
  for (DWORD freed = 0; last && freed < bytes; freed += 1024) {
    void* next = *static_cast<void**>(last);
    HeapFree(heap, 0, last);
    last = next;
  }
  return heap;
}

}  // namespace

void SeamInstall() {
  RealGetProcAddress = &GetProcAddress;
  g_setLastError = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetLastError"));
  char text[1024];
  if (GetEnvironmentVariableA("VEXO_FAIL_ALLOC", text, sizeof text) - 1 < sizeof text - 1)
    g_failAllocation = strtoul(text, nullptr, 0);
  if (GetEnvironmentVariableA("VEXO_HEAP_LIMIT", text, sizeof text) - 1 < sizeof text - 1)
    g_heap = LimitedHeap(strtoul(text, nullptr, 0));
  ReadList("VEXO_MISSING_DLL", g_missing);
  ReadList("VEXO_MISSING_ENTRY", g_missingEntries);
  if (GetEnvironmentVariableA("VEXO_FAIL", text, sizeof text) - 1 < sizeof text - 1) {
    for (char* entry = strtok(text, ";"); entry; entry = strtok(nullptr, ";")) ParseFailure(entry);
  }
  PatchImports(GetModuleHandleA(nullptr));
}

bool SeamFailAllocation() { return InterlockedIncrement(&g_counts.allocations) == static_cast<LONG>(g_failAllocation); }

void SeamCountBlock(int delta) { Count(g_counts.heap, delta); }

HANDLE SeamHeap() { return g_heap ? g_heap : GetProcessHeap(); }

bool SeamUnwatchedDownload() { return GetEnvironmentVariableA("VEXO_DOWNLOAD_UNWATCHED", nullptr, 0) != 0; }

void SeamReport(DWORD runStatus) {
  // Taken before the report's own file handle exists.
  const Counts counts = g_counts;
  char modules[512] = {};
  for (HMODULE module : g_modules) {
    if (!module) continue;
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, sizeof path);
    const char* name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    if (modules[0]) strncat(modules, ",", sizeof modules - strlen(modules) - 1);
    strncat(modules, name, sizeof modules - strlen(modules) - 1);
  }

  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("VEXO_SEAM_REPORT", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  char report[2048];
  _snprintf(report, sizeof report - 1,
            "status=%lu\r\nheap=%ld\r\nallocations=%ld\r\nhandles=%ld\r\nlibraries=%ld\r\nlibraries_left=%s\r\n"
            "dcs=%ld\r\ngdi=%ld\r\nsids=%ld\r\ncerts=%ld\r\ninet=%ld\r\ncom=%ld\r\ndrawn=%s\r\ntrust_ui=%lu\r\n"
            "folder_access=%s\r\n",
            runStatus, counts.heap, counts.allocations, counts.handles, counts.libraries, modules, counts.dcs,
            counts.gdi, counts.sids, counts.certs, counts.inet, counts.com, g_drawn, g_trustUi, g_folderAccess);
  report[sizeof report - 1] = 0;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, report, static_cast<DWORD>(strlen(report)), &written, nullptr);
  RealCloseHandle ? RealCloseHandle(file) : CloseHandle(file);
}

#endif
