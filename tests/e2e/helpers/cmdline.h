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

#endif
