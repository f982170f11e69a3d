/* Returns 0 at once, like trivial.c, but imports what the installer imports
   (one function of each library, called only on a command line no run
   passes) and carries its manifest: the difference between the two is the
   cost of loading the libraries. Built with -DSILENT_ONLY it leaves out the
   libraries only the progress window needs (comctl32, shell32, gdiplus,
   gdi32), as a silent run could. */
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
  NCB ncb = {0};
  char file[MAX_PATH];
#ifndef SILENT_ONLY
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  ULONG_PTR token;
#endif
#ifndef SILENT_ONLY
  InitCommonControlsEx(&controls);
  Shell_NotifyIconA(NIM_DELETE, NULL);
  GdiplusStartup(&token, NULL, NULL);
  DeleteObject(CreateSolidBrush(0));
#endif
  CoInitialize(NULL);
  URLDownloadToCacheFileA(NULL, commandLine, file, MAX_PATH, 0, NULL);
  InternetCloseHandle(NULL);
  Netbios(&ncb);
  RegCloseKey(NULL);
  return MessageBoxA(NULL, commandLine, commandLine, MB_OK);
}
