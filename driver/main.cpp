// Entry point of vexo_setup.exe: the whole run is RunInstaller's.
#include "base/test_seam.h"
#include "driver/build_config.h"
#include "driver/installer.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
#if defined(VEXO_TEST_SEAMS)
  SeamInstall();
  const DWORD status = RunInstaller(instance, commandLine, kModeString, kOptionSelector);
  SeamReport(status);
  return static_cast<int>(status);
#else
  return static_cast<int>(RunInstaller(instance, commandLine, kModeString, kOptionSelector));
#endif
}
