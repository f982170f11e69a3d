/* Lists the top-level windows of the processes with a given image name, or
 * presses a button of a window.
 *
 * usage: window_check.exe <image name, e.g. vexo_setup.exe>
 * prints one JSON object: the work area and, for every top-level window of a
 * matching process, its process id, class, title, rectangle and visibility:
 *   {"work_area": [l, t, r, b], "processes": N,
 *    "windows": [{"pid": .., "class": "..", "title": "..",
 *                 "rect": [l, t, r, b], "visible": true}, ...]}
 * Text is ASCII JSON (\uXXXX escapes).
 *
 * usage: window_check.exe /press <window title> <control id>
 * posts the control's click (WM_COMMAND with BN_CLICKED and the control's
 * handle) to the visible top-level window with that title, as a click on the
 * button would; prints {"pressed": true} or {"pressed": false}. */
#include <windows.h>
#include "json_out.h"
#include <tlhelp32.h>
#include <stdio.h>
#include <wchar.h>

#define MAX_PIDS 64

static DWORD g_pids[MAX_PIDS];
static int g_pid_count;
static int g_printed;

static void FindProcesses(const WCHAR *image)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
        const WCHAR *name = wcsrchr(entry.szExeFile, L'\\');
        name = name ? name + 1 : entry.szExeFile;
        if (_wcsicmp(name, image) == 0 && g_pid_count < MAX_PIDS)
            g_pids[g_pid_count++] = entry.th32ProcessID;
    }
    CloseHandle(snap);
}

static BOOL CALLBACK PrintWindowOfProcess(HWND window, LPARAM unused)
{
    (void)unused;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    int i;
    for (i = 0; i < g_pid_count && g_pids[i] != pid; i++) {}
    if (i == g_pid_count) return TRUE;

    WCHAR cls[256], title[1024];
    RECT r;
    cls[0] = title[0] = 0;
    GetClassNameW(window, cls, 256);
    GetWindowTextW(window, title, 1024);
    GetWindowRect(window, &r);
    printf("%s{\"pid\": %lu, \"class\": ", g_printed++ ? ", " : "", pid);
    PrintJsonString(cls);
    printf(", \"title\": ");
    PrintJsonString(title);
    printf(", \"rect\": [%ld, %ld, %ld, %ld], \"visible\": %s}",
           r.left, r.top, r.right, r.bottom, IsWindowVisible(window) ? "true" : "false");
    return TRUE;
}

static int Press(const WCHAR *title, int id)
{
    HWND window = FindWindowW(NULL, title);
    BOOL posted = FALSE;
    if (window && IsWindowVisible(window)) {
        HWND control = GetDlgItem(window, id);
        posted = control && PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                         (LPARAM)control);
    }
    printf("{\"pressed\": %s}\n", posted ? "true" : "false");
    fflush(stdout);
    return posted ? 0 : 1;
}

int main(void)
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc == 4 && wcscmp(argv[1], L"/press") == 0)
        return Press(argv[2], _wtoi(argv[3]));
    if (!argv || argc != 2) {
        fprintf(stderr, "usage: window_check.exe <image name>\n"
                        "       window_check.exe /press <window title> <control id>\n");
        return 2;
    }
    FindProcesses(argv[1]);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    printf("{\"work_area\": [%ld, %ld, %ld, %ld], \"processes\": %d, \"windows\": [",
           work.left, work.top, work.right, work.bottom, g_pid_count);
    if (g_pid_count) EnumWindows(PrintWindowOfProcess, 0);
    printf("]}\n");
    fflush(stdout);
    LocalFree(argv);
    return 0;
}
