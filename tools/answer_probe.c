/* Watches the installer's progress window from inside Wine, for
 * tools/network_faults.
 *
 * usage: answer_probe.exe <window title> <watch ms> <cancel after ms, 0: never>
 * Finds the visible #32770 window with this title that holds the progress bar
 * (control 114); every 200 ms sends it WM_NULL (SendMessageTimeout, 15 s) and
 * keeps the longest answer time; posts the Cancel click (control 112) when
 * asked; stops when another window with the same title (a message box)
 * appears, the window is gone or the watch time is up. Prints
 *   {"window": true, "samples": N, "unanswered": N, "max_answer_ms": N,
 *    "cancel_at_ms": N, "box_after_ms": N}
 * (times from the first look at the window; box_after_ms counts from the
 * Cancel click when there was one, 0 when no box came), or {"window": false}. */
#include <windows.h>
#include <stdio.h>

static WCHAR g_title[256];
static HWND g_window, g_box;

static BOOL CALLBACK Look(HWND window, LPARAM unused)
{
    (void)unused;
    WCHAR title[256], cls[64];
    GetWindowTextW(window, title, 256);
    GetClassNameW(window, cls, 64);
    if (wcscmp(title, g_title) || wcscmp(cls, L"#32770") || !IsWindowVisible(window)) return TRUE;
    if (GetDlgItem(window, 114)) g_window = window;
    else g_box = window;
    return TRUE;
}

int main(void)
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) {
        fprintf(stderr, "usage: answer_probe.exe <title> <watch ms> <cancel after ms>\n");
        return 2;
    }
    lstrcpynW(g_title, argv[1], 256);
    const DWORD watch = (DWORD)_wtoi(argv[2]), cancelAfter = (DWORD)_wtoi(argv[3]);
    const DWORD looking = GetTickCount();
    while (!g_window && GetTickCount() - looking < 20000) {
        EnumWindows(Look, 0);
        Sleep(50);
    }
    if (!g_window) {
        printf("{\"window\": false}\n");
        return 1;
    }
    const DWORD start = GetTickCount();
    DWORD samples = 0, unanswered = 0, longest = 0, cancelled = 0, box = 0;
    while (GetTickCount() - start < watch && IsWindow(g_window)) {
        const DWORD sent = GetTickCount();
        DWORD_PTR result;
        if (SendMessageTimeoutW(g_window, WM_NULL, 0, 0, SMTO_NORMAL, 15000, &result)) {
            if (GetTickCount() - sent > longest) longest = GetTickCount() - sent;
            samples++;
        } else {
            unanswered++;
        }
        if (cancelAfter && !cancelled && GetTickCount() - start >= cancelAfter) {
            PostMessageW(g_window, WM_COMMAND, MAKEWPARAM(112, BN_CLICKED), (LPARAM)GetDlgItem(g_window, 112));
            cancelled = GetTickCount();
        }
        g_box = NULL;
        EnumWindows(Look, 0);
        if (g_box) {
            box = GetTickCount() - (cancelled ? cancelled : start);
            break;
        }
        Sleep(cancelled ? 20 : 200);
    }
    printf("{\"window\": true, \"samples\": %lu, \"unanswered\": %lu, \"max_answer_ms\": %lu, "
           "\"cancel_at_ms\": %lu, \"box_after_ms\": %lu}\n",
           samples, unanswered, longest, cancelled ? cancelled - start : 0, box);
    LocalFree(argv);
    return 0;
}
