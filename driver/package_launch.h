// Starts the downloaded package and waits for it.
#ifndef VEXO_DRIVER_PACKAGE_LAUNCH_H
#define VEXO_DRIVER_PACKAGE_LAUNCH_H

#include "base/platform.h"

// Runs the package at path with folder as its current folder and temp as
// its TEMP and TMP (set in the installer's own environment, which the
// package inherits; nothing after it reads them). The package's exit code;
// ERROR_OUTOFMEMORY or ERROR_INSTALL_FAILURE when the command line cannot
// be made; the error of a failed launch or wait.
DWORD RunPackage(const char* path, bool packageSilent, const char* folder, const char* temp);
// Waits for the process while serving the thread's messages. 0 when it
// has ended, else the error of the failed wait.
DWORD WaitWithMessagePump(HANDLE process);

#endif
