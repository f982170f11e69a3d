/* bare_download.exe URL: the least an online installer does. Downloads URL
   into the URL cache, starts the file as "<file>" /norestart /S, waits for it,
   deletes the cache entry and exits with the package's exit code (2 when the
   download failed, the error when the package could not be started). */
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR url, int show) {
  char file[MAX_PATH];
  char commandLine[MAX_PATH + 32];
  STARTUPINFOA startup = {0};
  PROCESS_INFORMATION process = {0};
  DWORD code = 0;
  (void)instance;
  (void)previous;
  (void)show;

  if (FAILED(URLDownloadToCacheFileA(NULL, url, file, MAX_PATH, 0, NULL))) return 2;
  wsprintfA(commandLine, "\"%s\" /norestart /S", file);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_DEFAULT_ERROR_MODE, NULL, NULL,
                      &startup, &process)) {
    code = GetLastError();
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  DeleteUrlCacheEntryA(url);
  return (int)code;
}
