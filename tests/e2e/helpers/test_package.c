/* The installer package of the end-to-end tests: a GUI program that records
 * how it was started and ends with a chosen exit code.
 *
 * It appends its full command line to C:\vexo_e2e\package.log, then reads
 * from its environment (which the installer passes through):
 *   VEXO_E2E_FIND_TITLE  record in C:\vexo_e2e\package.window whether a
 *                        top-level window with this title exists now
 *   VEXO_E2E_WAIT_FOR    a file to wait for before ending ...
 *   VEXO_E2E_WAIT_MS     ... at most this long (default 60000)
 *   VEXO_E2E_EXIT        the exit code (decimal, default 0)
 */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#define LOG_DIR "C:\\vexo_e2e"

static void AppendLine(const char *path, const char *text)
{
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(f, text, (DWORD)strlen(text), &written, NULL);
    WriteFile(f, "\r\n", 2, &written, NULL);
    CloseHandle(f);
}

static DWORD EnvNumber(const char *name, DWORD fallback)
{
    char value[32];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 || n >= sizeof value) return fallback;
    return (DWORD)strtoul(value, NULL, 0);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show)
{
    (void)instance; (void)previous; (void)args; (void)show;
    char value[1024];
    DWORD n;

    CreateDirectoryA(LOG_DIR, NULL);

    /* The wide form: this Wine's GetEnvironmentVariableA cuts double-byte
     * text short (it counts characters, not bytes). */
    WCHAR title[256];
    n = GetEnvironmentVariableW(L"VEXO_E2E_FIND_TITLE", title, 256);
    if (n > 0 && n < 256)
        AppendLine(LOG_DIR "\\package.window",
                   FindWindowW(NULL, title) ? "window=yes" : "window=no");

    AppendLine(LOG_DIR "\\package.log", GetCommandLineA());

    n = GetEnvironmentVariableA("VEXO_E2E_WAIT_FOR", value, sizeof value);
    if (n > 0 && n < sizeof value) {
        DWORD limit = EnvNumber("VEXO_E2E_WAIT_MS", 60000);
        DWORD start = GetTickCount();
        while (GetFileAttributesA(value) == INVALID_FILE_ATTRIBUTES &&
               GetTickCount() - start < limit)
            Sleep(50);
    }
    return (int)EnvNumber("VEXO_E2E_EXIT", 0);
}
