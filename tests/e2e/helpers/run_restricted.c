/* Starts a command line with a token whose Administrators group is disabled
 * (deny-only), as a user outside Administrators would run it, waits for it
 * and prints its full exit code.
 *
 * usage: run_restricted.exe <timeout ms> <command line>
 * prints "exit=<code>", "timeout", or "error=<step>:<code>". */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include "cmdline.h"

static int Fail(const char *step)
{
    printf("error=%s:%lu\n", step, GetLastError());
    fflush(stdout);
    return 3;
}

int main(int argc, char **argv)
{
    unsigned long timeout_ms = 0;
    const char *rest = TimeoutAndCommand(argc, argv, &timeout_ms);
    if (!rest) {
        fprintf(stderr, "usage: run_restricted.exe <timeout ms> <command line>\n");
        return 2;
    }

    HANDLE token = NULL, restricted = NULL;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          &token))
        return Fail("OpenProcessToken");

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = NULL;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins))
        return Fail("AllocateAndInitializeSid");

    SID_AND_ATTRIBUTES disable;
    disable.Sid = admins;
    disable.Attributes = 0;
    if (!CreateRestrictedToken(token, 0, 1, &disable, 0, NULL, 0, NULL,
                               &restricted))
        return Fail("CreateRestrictedToken");

    /* Tell whether the filtered token really lost the membership, so a
     * harness failure is not mistaken for one of the program under test. */
    HANDLE imp = NULL;
    BOOL member = TRUE;
    if (DuplicateToken(restricted, SecurityImpersonation, &imp)) {
        if (!CheckTokenMembership(imp, admins, &member)) member = -1;
        CloseHandle(imp);
    }
    printf("admin-member=%d\n", (int)member);

    char *cmd = _strdup(rest);
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(&pi, 0, sizeof pi);
    if (!CreateProcessAsUserA(restricted, NULL, cmd, NULL, NULL, FALSE, 0,
                              NULL, NULL, &si, &pi))
        return Fail("CreateProcessAsUserA");
    if (!WaitAndReportExit(&pi, timeout_ms)) return 4;
    CloseHandle(restricted);
    CloseHandle(token);
    FreeSid(admins);
    free(cmd);
    return 0;
}
