/* The package of the tests: appends its command line to
 * C:\vexo_e2e\package.log, its own path, current folder, TEMP and TMP to
 * package.where ("path|folder|TEMP|TMP"), and whether a window titled
 * VEXO_E2E_FIND_TITLE is open to package.window; loads vexo_plant.dll by
 * name, as setup programs load their helpers (none is beside it unless
 * someone planted one); waits (at most 60 s) while the file
 * VEXO_E2E_WAIT_FOR does not exist, and exits with VEXO_E2E_EXIT. */
#include <windows.h>
#include <stdlib.h>

static void Append(const char *path, const char *text)
{
    DWORD written;
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    WriteFile(f, text, lstrlenA(text), &written, NULL);
    WriteFile(f, "\r\n", 2, &written, NULL);
    CloseHandle(f);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show)
{
    char value[MAX_PATH] = "";
    WCHAR title[256]; /* the wide form: this Wine's A form cuts double-byte values short */
    (void)instance, (void)previous, (void)args, (void)show;
    if (GetEnvironmentVariableW(L"VEXO_E2E_FIND_TITLE", title, 256) - 1 < 255)
        Append("C:\\vexo_e2e\\package.window", FindWindowW(NULL, title) ? "window=yes" : "window=no");
    Append("C:\\vexo_e2e\\package.log", GetCommandLineA());
    char where[4 * MAX_PATH + 4] = "";
    int n = (int)GetModuleFileNameA(NULL, where, MAX_PATH);
    where[n++] = '|', n += (int)GetCurrentDirectoryA(MAX_PATH, where + n);
    where[n++] = '|', n += (int)GetEnvironmentVariableA("TEMP", where + n, MAX_PATH);
    where[n++] = '|', GetEnvironmentVariableA("TMP", where + n, MAX_PATH);
    Append("C:\\vexo_e2e\\package.where", where);
    LoadLibraryA("vexo_plant.dll");
    if (GetEnvironmentVariableA("VEXO_E2E_WAIT_FOR", value, MAX_PATH) - 1 < MAX_PATH - 1)
        for (DWORD start = GetTickCount(); GetFileAttributesA(value) == INVALID_FILE_ATTRIBUTES &&
                                           GetTickCount() - start < 60000;)
            Sleep(50);
    GetEnvironmentVariableA("VEXO_E2E_EXIT", value, MAX_PATH);
    return (int)strtoul(value, NULL, 0);
}
