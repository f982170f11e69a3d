// Entry point of vexo_setup.exe: the whole run is RunInstaller's.
//
// The program is linked without the C runtime's start-up code (see
// CMakeLists.txt): Entry is the image's entry point. It does what that
// start-up code would do for a GUI program - the module handle, the command
// line past the program name, the show command - calls WinMain and exits
// with its result, all 32 bits of it. Nothing is initialised or torn down
// around it: the program has no static constructors or destructors (the
// link checks), and msvcrt.dll, for the few routines it lends, initialises
// itself when it is loaded.
#include "driver/installer.h"
#if defined(VEXO_TEST_SEAMS)
#include "tests/seam/seam.h"
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
#if defined(VEXO_TEST_SEAMS)
  SeamInstall();
  const DWORD status = RunInstaller(instance, commandLine);
  SeamReport(status);
  return static_cast<int>(status);
#else
  return static_cast<int>(RunInstaller(instance, commandLine));
#endif
}

namespace {

// The process command line past the program name, as Windows' own start-up
// code hands it to WinMain: the name runs to the first blank or control
// character outside double quotes (quotes toggle, whole characters of the
// ANSI code page), then blanks and control characters are skipped.
LPSTR CommandLineArguments() {
  LPSTR p = GetCommandLineA();
  bool quoted = false;
  while (static_cast<unsigned char>(*p) > ' ' || (*p != '\0' && quoted)) {
    if (*p == '"') quoted = !quoted;
    p = CharNextA(p);
  }
  while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}

}  // namespace

// Seen from outside the one compilation unit the program is built as.
extern "C" __attribute__((externally_visible)) void WINAPI Entry() {
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, CommandLineArguments(), show)));
}
