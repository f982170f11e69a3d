/* Returns 0 at once, like trivial.c, but imports what the installer imports
   (one function of each library, called only on a command line no run
   passes) and carries its manifest: the difference between the two is the
   cost of loading the libraries. */
#include <windows.h>
#include <commctrl.h>
#include <nb30.h>
#include <shellapi.h>
#include <urlmon.h>
#include <wininet.h>

int WINAPI GdiplusStartup(ULONG_PTR* token, const void* input, void* output);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  if (lstrcmpA(commandLine, "/never") != 0) return 0;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  NCB ncb = {0};
  ULONG_PTR token;
  char file[MAX_PATH];
  InitCommonControlsEx(&controls);
  Shell_NotifyIconA(NIM_DELETE, NULL);
  CoInitialize(NULL);
  GdiplusStartup(&token, NULL, NULL);
  URLDownloadToCacheFileA(NULL, commandLine, file, MAX_PATH, 0, NULL);
  InternetCloseHandle(NULL);
  Netbios(&ncb);
  DeleteObject(CreateSolidBrush(0));
  RegCloseKey(NULL);
  return MessageBoxA(NULL, commandLine, commandLine, MB_OK);
}
