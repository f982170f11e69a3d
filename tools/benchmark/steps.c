/* steps.exe STATS_URL PACKAGE_URL OUT_FILE: makes the calls an online
   installer makes, one by one, and writes how long each took (ms, one
   "name value" line each) to OUT_FILE. Only kernel32 is imported: every other
   library is loaded (and timed) on the spot, so its start-up cost shows. */
#include <windows.h>
#include <nb30.h>
#include "adapter_probe.h"
#include <stdio.h>
#include <wininet.h>

typedef struct {
  UINT32 version;
  void* debugCallback;
  BOOL suppressThread;
  BOOL suppressCodecs;
} GdiplusInput;
typedef int(WINAPI* GdiplusStartupFn)(ULONG_PTR*, const GdiplusInput*, void*);
typedef UCHAR(WINAPI* NetbiosFn)(PNCB);
typedef void*(WINAPI* InternetOpenFn)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
typedef void*(WINAPI* InternetOpenUrlFn)(void*, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
typedef BOOL(WINAPI* InternetCloseFn)(void*);
typedef BOOL(WINAPI* DeleteUrlCacheEntryFn)(LPCSTR);
typedef HRESULT(WINAPI* DownloadFn)(void*, LPCSTR, LPSTR, DWORD, DWORD, void*);

static LARGE_INTEGER frequency, mark;
static FILE* out;

static void Lap(const char* name) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  fprintf(out, "%s %.2f\n", name, (double)(now.QuadPart - mark.QuadPart) * 1000.0 / (double)frequency.QuadPart);
  QueryPerformanceCounter(&mark);
}

static void* Function(const char* library, const char* name) {
  return (void*)GetProcAddress(GetModuleHandleA(library), name);
}

static void ProbeMac(void) {
  AdapterStatus adapter;
  ProbeAdapter((NetbiosFn)Function("netapi32.dll", "Netbios"), &adapter);
}

static void Ping(const char* url) {
  void* session = ((InternetOpenFn)Function("wininet.dll", "InternetOpenA"))(NULL, 0, NULL, NULL, 0);
  InternetOpenUrlFn openUrl = (InternetOpenUrlFn)Function("wininet.dll", "InternetOpenUrlA");
  void* request = openUrl(session, url, NULL, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (request) ((InternetCloseFn)Function("wininet.dll", "InternetCloseHandle"))(request);
  ((InternetCloseFn)Function("wininet.dll", "InternetCloseHandle"))(session);
}

int main(int argc, char** argv) {
  static const char* libraries[] = {"gdi32.dll", "user32.dll", "advapi32.dll", "comctl32.dll", "shell32.dll",
                                    "ole32.dll", "oleaut32.dll", "gdiplus.dll", "netapi32.dll", "wininet.dll",
                                    "urlmon.dll"};
  char file[MAX_PATH], commandLine[MAX_PATH + 32], lap[64];
  STARTUPINFOA startup = {0};
  PROCESS_INFORMATION process = {0};
  FILETIME created, ignored, now;
  ULONG_PTR token;
  GdiplusInput input = {1, NULL, FALSE, FALSE};
  size_t i;

  if (argc != 4 || !(out = fopen(argv[3], "w"))) return 1;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&mark);
  GetProcessTimes(GetCurrentProcess(), &created, &ignored, &ignored, &ignored);
  GetSystemTimeAsFileTime(&now);
  fprintf(out, "process-start-to-main %.2f\n",
          (double)(((ULONGLONG)now.dwHighDateTime << 32 | now.dwLowDateTime) -
                   ((ULONGLONG)created.dwHighDateTime << 32 | created.dwLowDateTime)) / 1e4);

  for (i = 0; i < sizeof libraries / sizeof *libraries; ++i) {
    LoadLibraryA(libraries[i]);
    snprintf(lap, sizeof lap, "load-%s", libraries[i]);
    Lap(lap);
  }
  ((GdiplusStartupFn)Function("gdiplus.dll", "GdiplusStartup"))(&token, &input, NULL);
  Lap("gdiplus-startup");
  ProbeMac();
  Lap("mac-probe");
  Ping(argv[1]);
  Lap("ping");
  if (FAILED(((DownloadFn)Function("urlmon.dll", "URLDownloadToCacheFileA"))(NULL, argv[2], file, MAX_PATH, 0, NULL)))
    return 2;
  Lap("download");
  ProbeMac();
  Lap("mac-probe-again");
  Ping(argv[1]);
  Lap("ping-again");
  snprintf(commandLine, sizeof commandLine, "\"%s\" /norestart /S", file);
  startup.cb = sizeof startup;
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 3;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Lap("run-package");
  ((DeleteUrlCacheEntryFn)Function("wininet.dll", "DeleteUrlCacheEntryA"))(argv[2]);
  Lap("delete-cache-entry");
  fclose(out);
  return 0;
}
