/* Starts a command line, waits for it and prints its full 32-bit exit code.
 * Wine's own exit status keeps only the low 8 bits of a Windows exit code.
 *
 * usage: run_exit.exe <timeout ms> <command line>
 * prints "exit=<code>" (decimal), or "timeout" after terminating the child,
 * or "error=<code>" when the process could not be started. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include "cmdline.h"

int main(int argc, char **argv)
{
    unsigned long timeout_ms = 0;
    const char *rest = TimeoutAndCommand(argc, argv, &timeout_ms);
    if (!rest) {
        fprintf(stderr, "usage: run_exit.exe <timeout ms> <command line>\n");
        return 2;
    }
    char *cmd = _strdup(rest);
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(&pi, 0, sizeof pi);
    if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        printf("error=%lu\n", GetLastError());
        fflush(stdout);
        return 3;
    }
    if (!WaitAndReportExit(&pi, timeout_ms)) return 4;
    free(cmd);
    return 0;
}
