// Whether this run may go ahead, and the privilege for the final restart.
#ifndef VEXO_DRIVER_PREREQUISITES_H
#define VEXO_DRIVER_PREREQUISITES_H

#include "base/platform.h"

// The single-instance mutex, in the global namespace.
extern const char kSetupMutexName[];

bool IsSupportedOs();
bool IsOsVersionAtLeast(DWORD major, DWORD minor, WORD servicePackMajor);
// The handle is the caller's in every case, null or not.
bool IsAnotherSetupRunning(HANDLE* mutex);
bool IsAdministrator();
bool EnableShutdownPrivilege();

#endif
