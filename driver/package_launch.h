// Starts the downloaded package and waits for it.
#ifndef VEXO_DRIVER_PACKAGE_LAUNCH_H
#define VEXO_DRIVER_PACKAGE_LAUNCH_H

#include "base/platform.h"

// The package's exit code; ERROR_OUTOFMEMORY or ERROR_INSTALL_FAILURE when
// the command line cannot be made; the error of a failed launch or wait.
DWORD RunPackage(const char* path, bool packageSilent);
// Waits for the process while serving the thread's messages. 0 when it
// has ended, else the error of the failed wait.
DWORD WaitWithMessagePump(HANDLE process);

#endif
