// The install sequence: start-up, mode and option selection, the checks,
// the download, the package launch and the one clean-up path.
#ifndef VEXO_DRIVER_INSTALLER_H
#define VEXO_DRIVER_INSTALLER_H

#include "base/platform.h"
#include "base/sizes.h"

enum OptionSelector {
  kOptionNone = 0,
  kOptionHelp = 1,
  kOptionVerify = 2,
  kOptionAdmin = 3,
};

// Runs the whole installer in the mode and with the option it was built
// with (base/build_config.h) and returns the run status, the process's
// exit code. The command line is the process's, without the program name;
// the verify option changes it in place.
DWORD RunInstaller(HINSTANCE instance, LPSTR commandLine);

// 0 when the command line holds exactly one token, else ERROR_BAD_ARGUMENTS.
DWORD ParseAdminOption(char* commandLine);

// Process-wide state set at start-up.
extern HINSTANCE g_instance;
extern char g_caption[kCaptionChars];

#endif
