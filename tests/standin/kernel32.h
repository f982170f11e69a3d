// kernel32 for the host stand-in: declarations with the Win32 names and
// signatures, and the state a test scripts.
#ifndef VEXO_STANDIN_KERNEL32_H
#define VEXO_STANDIN_KERNEL32_H

#include <cstdarg>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "standin/types.h"

#define HEAP_ZERO_MEMORY 0x00000008
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define CP_ACP 0
#define CP_UTF8 65001
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#define STARTF_USESHOWWINDOW 0x00000001
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define VER_MINORVERSION 0x0000001
#define VER_MAJORVERSION 0x0000002
#define VER_SERVICEPACKMINOR 0x0000010
#define VER_SERVICEPACKMAJOR 0x0000020
#define VER_GREATER_EQUAL 3
#define VER_EQUAL 1
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_STRING MAKEINTRESOURCEA(6)

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA is 156 bytes");

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);
BOOL WINAPI CloseHandle(HANDLE h);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCSTR name);

HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID mem);
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID WINAPI GlobalLock(HGLOBAL mem);
BOOL WINAPI GlobalUnlock(HGLOBAL mem);
HGLOBAL WINAPI GlobalFree(HGLOBAL mem);
HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalFree(HLOCAL mem);

int WINAPI lstrlenA(LPCSTR text);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int wideChars);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideChars, LPSTR text, int bytes,
                               LPCSTR defaultChar, LPBOOL usedDefault);

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC res);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC res);
BOOL WINAPI FreeResource(HGLOBAL data);

HMODULE WINAPI LoadLibraryA(LPCSTR name);
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE reserved, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);

DWORD WINAPI GetVersion();
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
ULONGLONG WINAPI VerSetConditionMask(ULONGLONG mask, DWORD typeBit, BYTE condition);
BOOL WINAPI VerifyVersionInfoA(LPOSVERSIONINFOEXA info, DWORD typeMask, ULONGLONG conditionMask);

HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION info);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD code);
void WINAPI Sleep(DWORD ms);
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                            DWORD size, va_list* arguments);

namespace standin {

// A resource of the module: type and name as "#40" for an integer id or
// the string name itself.
struct Resource {
  std::string bytes;
  bool lockFails = false;  // LockResource answers null
  bool loadFails = false;  // LoadResource answers null
  // When set, the data instead of bytes: memory the test owns, of exactly
  // dataSize bytes, so reading past the resource trips the sanitizer.
  const void* data = nullptr;
  DWORD dataSize = 0;
};

struct CreatedProcess {
  std::string commandLine;
  DWORD creationFlags = 0;
  DWORD startupFlags = 0;
  WORD showWindow = 0;
  bool applicationNameGiven = false;
  bool inheritHandles = false;
};

struct Kernel32State {
  std::string modulePath = "C:\\Users\\tester\\Downloads\\vexo_setup.exe";
  DWORD moduleFileNameError = 0;  // non-zero: GetModuleFileNameA fails with it

  // Resources by "type/name" key, see ResourceKey().
  std::map<std::string, Resource> resources;
  // String table, UTF-8 texts; LoadStringA converts them to the ANSI page.
  std::map<UINT, std::string> strings;

  // Version: what GetVersion and GetVersionExA report.
  DWORD major = 6, minor = 1, servicePack = 1, build = 7601;
  bool win9x = false;            // bit 31 of GetVersion
  bool getVersionExFails = false;
  int verifyVersionCalls = 0;

  // Mutexes by name; a name listed in deniedMutexes cannot be opened.
  std::map<std::string, int> mutexes;
  std::vector<std::string> deniedMutexes;

  // Processes: scripted outcome of the next CreateProcessA calls.
  std::vector<CreatedProcess> processes;
  DWORD createProcessError = 0;   // non-zero: CreateProcessA fails with it
  DWORD processExitCode = 0;
  bool getExitCodeFails = false;
  std::vector<std::string> closedHandleKinds;  // every CloseHandle of a live handle, in order

  bool formatMessageFails = false;
  std::vector<DWORD> sleeps;
  std::string systemDirectory = "C:\\windows\\system32";
  std::vector<std::pair<std::string, DWORD>> libraryLoads;  // name, flags as passed
};
Kernel32State& Kernel32();

std::string ResourceKey(LPCSTR type, LPCSTR name);
void AddResource(LPCSTR type, LPCSTR name, const std::string& bytes);
// Loads the string table of the installer's resource script (texts as
// the product ships them), so tests see the real strings.
void LoadShippedStrings();

}  // namespace standin

#endif
