/* Returns 0 at once: the start-up of a Windows program under this Wine, and
   (padded to 1 MB or 64 MB) the package the benchmark downloads. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  return 0;
}
