// Entry point of vexo_setup.exe: the whole run is RunInstaller's.
#include "driver/build_config.h"
#include "driver/installer.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return static_cast<int>(RunInstaller(instance, commandLine, kModeString, kOptionSelector));
}
