/* Argument handling shared by the test helpers.
 *
 * The helpers are started as `wine helper.exe <timeout ms> '<command line>'`.
 * Wine quotes each Unix argument when it builds the Windows command line, and
 * the runtime's argument parser undoes that quoting, so argv[2] is the command
 * line to start, byte for byte. */
#ifndef VEXO_E2E_CMDLINE_H
#define VEXO_E2E_CMDLINE_H

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

/* Reads "<timeout ms> <command line>"; returns the command line or NULL. */
static inline const char *TimeoutAndCommand(int argc, char **argv,
                                            unsigned long *timeout_ms)
{
    char *end = NULL;
    if (argc != 3) return NULL;
    *timeout_ms = strtoul(argv[1], &end, 10);
    if (end == argv[1] || *end) return NULL;
    return argv[2];
}

/* Waits for a started child and prints "exit=<full 32-bit code>", or
 * terminates it and prints "timeout" (false). Closes both handles. */
static inline int WaitAndReportExit(PROCESS_INFORMATION *pi, unsigned long timeout_ms)
{
    DWORD code = 0;
    int ended = WaitForSingleObject(pi->hProcess, timeout_ms) == WAIT_OBJECT_0;
    if (ended) {
        GetExitCodeProcess(pi->hProcess, &code);
        printf("exit=%lu\n", code);
    } else {
        TerminateProcess(pi->hProcess, 1);
        printf("timeout\n");
    }
    fflush(stdout);
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
    return ended;
}

#endif
