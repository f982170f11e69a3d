// Scripting and recording side of the host stand-in for Win32. Tests use
// this header; product code only sees the Win32 names of win32.h.
#ifndef VEXO_STANDIN_STANDIN_H
#define VEXO_STANDIN_STANDIN_H

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin/types.h"

namespace standin {

// Every library file registers a reset hook; Reset() runs them all, so a
// test fixture starts from a clean platform.
struct ResetHook {
  explicit ResetHook(void (*fn)());
};
void Reset();

// The value the last error holds after Reset() and after every call that
// does not set it, so code that reads a stale error is caught.
constexpr DWORD kStaleError = 0xdeadbeef;

// Text conversion: the stand-in's ANSI code page is 936, as on a
// Simplified Chinese system. Ansi() turns UTF-8 test text into CP936
// bytes; Utf8() the other way; Utf16() into UTF-16.
std::string Ansi(const std::string& utf8);
std::string Utf8(const std::string& ansi);
std::u16string Utf16(const std::string& utf8);
std::u16string AnsiToUtf16(const std::string& ansi);  // empty on failure
bool Utf16ToAnsi(const std::u16string& wide, std::string* ansi);

// Heap allocations (HeapAlloc, LocalAlloc, GlobalAlloc) are counted.
// Failing allocations are scripted by the ordinal of the call (1-based,
// counted from Reset) or by size.
struct HeapState {
  std::map<const void*, size_t> live;
  int calls = 0;
  std::set<int> failCalls;     // fail the Nth allocation call
  std::set<size_t> failSizes;  // fail every allocation of this size
  bool failAll = false;
};
HeapState& Heap();
int OutstandingAllocations();

// Kernel handles of every kind (mutexes, processes, threads, Internet
// handles) come from one table, so a test can check that none is left.
HANDLE NewHandle(const std::string& kind);
bool IsLiveHandle(HANDLE h);
std::string HandleKind(HANDLE h);
bool ReleaseHandle(HANDLE h);
int OutstandingHandles();
std::vector<std::string> OutstandingHandleKinds();

// Libraries loaded at run time: a test registers a library by name with
// the entry points it exports; LoadLibraryA of an unregistered name fails.
struct Library {
  std::map<std::string, FARPROC> procs;
};
void RegisterLibrary(const std::string& name, const Library& lib);
int OutstandingLibraries();
std::vector<std::string> LoadedLibraryNames();  // every successful load, in order

// Something the code under test did, for tests that check order across
// libraries ("ping start", "download", "process", "box" ...).
struct Event {
  std::string what;
  std::string detail;
};
std::vector<Event>& Events();
void Record(const std::string& what, const std::string& detail = std::string());

}  // namespace standin

#endif
