/* Looks at the installer's progress window and the shell's balloon from
 * inside Wine, and draws reference pictures of the status line.
 *
 * usage: window_probe.exe /window <title>
 *   the visible #32770 window with this title that holds a progress bar
 *   (control 114), told apart from a message box with the same caption:
 *     {"window": <handle>, "rect": [l, t, r, b], "client": [x, y, w, h]
 *      (client origin in screen coordinates, client size),
 *      "work_area": [l, t, r, b], "screen": [w, h],
 *      "controls": [{"id": .., "class": ".."}, ...],
 *      "button": {"text_acp": "<hex bytes of WM_GETTEXT, ANSI>",
 *                 "text": "<WM_GETTEXT, wide>", "rect": [...],
 *                 "visible": true, "enabled": true},
 *      "bar": {"pos": .., "low": .., "high": .., "rect": [...]}}
 *   or {"window": null}. The work area is read with SystemParametersInfoA
 *   (SPI_GETWORKAREA), as the installer reads it.
 *
 * usage: window_probe.exe /workarea
 *   {"work_area": [...], "screen": [w, h], "taskbar": [l, t, r, b] or null}
 *
 * usage: window_probe.exe /hold <ms> <release file>
 *   keeps an icon in the notification area (which brings up the desktop's
 *   taskbar) until the time is up or the release file exists; prints
 *   {"holding": true} once the icon is added.
 *
 * usage: window_probe.exe /balloon <timeout ms>
 *   waits for a visible balloon tooltip (class tooltips_class32 with
 *   TTS_BALLOON) of another process and prints
 *   {"balloon": <handle>, "text": "..", "rect": [...], "process": ".."},
 *   or {"balloon": null} after the time-out.
 *
 * usage: window_probe.exe /render <bmp path> <width> <height> <UTF-16LE hex>
 *   draws the text the way the installer draws its status line (a rectangle
 *   filled with 0xF0F0F0; a font whose LOGFONTA is zero but for a height of
 *   16; transparent background; DrawTextA of the ANSI text with
 *   DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX) and
 *   saves it as a 24-bit top-down BMP.
 *
 * Text is printed as ASCII JSON (\uXXXX escapes). */
#include <windows.h>
#include "json_out.h"
#include <commctrl.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define PROGRESS_BAR_ID 114
#define CANCEL_BUTTON_ID 112

/* How long a window of another process may take to answer a message: the
 * installer answers only while it pumps, not while a request blocks it. */
static const UINT kAnswerMs = 1500;

static void PrintRect(const char *name, const RECT *r)
{
    printf("\"%s\": [%ld, %ld, %ld, %ld]", name, r->left, r->top, r->right, r->bottom);
}

/* ---------------------------------------------------------------- /window */

typedef struct {
    const WCHAR *title;
    HWND found;
} WindowSearch;

static BOOL CALLBACK FindProgressWindow(HWND window, LPARAM param)
{
    WindowSearch *search = (WindowSearch *)param;
    WCHAR cls[64], title[512];
    if (!IsWindowVisible(window) || !GetClassNameW(window, cls, 64) ||
        wcscmp(cls, L"#32770") != 0)
        return TRUE;
    GetWindowTextW(window, title, 512);
    if (wcscmp(title, search->title) != 0 || !GetDlgItem(window, PROGRESS_BAR_ID))
        return TRUE;
    search->found = window;
    return FALSE;
}

static int g_controls_printed;

static BOOL CALLBACK PrintControl(HWND child, LPARAM param)
{
    HWND parent = (HWND)param;
    WCHAR cls[64];
    if (GetParent(child) != parent) return TRUE;  /* direct children only */
    cls[0] = 0;
    GetClassNameW(child, cls, 64);
    printf("%s{\"id\": %d, \"class\": ", g_controls_printed++ ? ", " : "", GetDlgCtrlID(child));
    PrintJsonString(cls);
    printf("}");
    return TRUE;
}

static void PrintWorkArea(void)
{
    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) SetRectEmpty(&work);
    PrintRect("work_area", &work);
    printf(", \"screen\": [%d, %d]", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

static int ProbeWindow(const WCHAR *title)
{
    WindowSearch search = {title, NULL};
    EnumWindows(FindProgressWindow, (LPARAM)&search);
    HWND window = search.found;
    if (!window) {
        printf("{\"window\": null}\n");
        return 1;
    }
    RECT r, client;
    POINT origin = {0, 0};
    GetWindowRect(window, &r);
    GetClientRect(window, &client);
    ClientToScreen(window, &origin);
    printf("{\"window\": %lu, ", (unsigned long)(ULONG_PTR)window);
    PrintRect("rect", &r);
    printf(", \"client\": [%ld, %ld, %ld, %ld], ", origin.x, origin.y,
           client.right - client.left, client.bottom - client.top);
    PrintWorkArea();

    printf(", \"controls\": [");
    g_controls_printed = 0;
    EnumChildWindows(window, PrintControl, (LPARAM)window);
    printf("]");

    HWND button = GetDlgItem(window, CANCEL_BUTTON_ID);
    if (button) {
        /* Sent, not read from the window structure: the button answers
         * WM_GETTEXT itself, in the caller's code page for the A form. */
        char acp[256];
        WCHAR wide[256];
        DWORD_PTR n = 0, wn = 0;
        if (!SendMessageTimeoutA(button, WM_GETTEXT, sizeof acp, (LPARAM)acp, SMTO_ABORTIFHUNG,
                                 kAnswerMs, &n) || n >= sizeof acp)
            n = 0;
        acp[n] = 0;
        if (!SendMessageTimeoutW(button, WM_GETTEXT, 256, (LPARAM)wide, SMTO_ABORTIFHUNG,
                                 kAnswerMs, &wn) || wn >= 256)
            wn = 0;
        wide[wn] = 0;
        printf(", \"button\": {\"text_acp\": \"");
        for (DWORD_PTR i = 0; i < n; i++) printf("%02x", (unsigned char)acp[i]);
        printf("\", \"text\": ");
        PrintJsonString(wide);
        RECT br;
        GetWindowRect(button, &br);
        printf(", ");
        PrintRect("rect", &br);
        printf(", \"visible\": %s, \"enabled\": %s}", IsWindowVisible(button) ? "true" : "false",
               IsWindowEnabled(button) ? "true" : "false");
    } else {
        printf(", \"button\": null");
    }

    HWND bar = GetDlgItem(window, PROGRESS_BAR_ID);
    DWORD_PTR pos = 0, low = 0, high = 0;
    RECT pr;
    if (bar && GetWindowRect(bar, &pr) &&
        SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &pos) &&
        SendMessageTimeoutW(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, kAnswerMs, &low) &&
        SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kAnswerMs, &high)) {
        printf(", \"bar\": {\"pos\": %ld, \"low\": %ld, \"high\": %ld, ", (long)pos,
               (long)low, (long)high);
        PrintRect("rect", &pr);
        printf("}}\n");
    } else {
        printf(", \"bar\": null}\n");
    }
    return 0;
}

static int ProbeWorkArea(void)
{
    printf("{");
    PrintWorkArea();
    HWND tray = FindWindowW(L"Shell_TrayWnd", NULL);
    if (tray && IsWindowVisible(tray)) {
        RECT r;
        GetWindowRect(tray, &r);
        printf(", ");
        PrintRect("taskbar", &r);
    } else {
        printf(", \"taskbar\": null");
    }
    printf("}\n");
    return 0;
}

/* ---------------------------------------------------------------- /balloon */

static void ProcessName(DWORD pid, WCHAR *name, size_t size)
{
    name[0] = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry))
        if (entry.th32ProcessID == pid) {
            const WCHAR *base = wcsrchr(entry.szExeFile, L'\\');
            lstrcpynW(name, base ? base + 1 : entry.szExeFile, (int)size);
            break;
        }
    CloseHandle(snap);
}

static BOOL CALLBACK FindBalloon(HWND window, LPARAM param)
{
    WCHAR cls[64];
    DWORD pid = 0;
    if (!IsWindowVisible(window) || !GetClassNameW(window, cls, 64) ||
        _wcsicmp(cls, TOOLTIPS_CLASSW) != 0)
        return TRUE;
    if (!(GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON)) return TRUE;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId()) return TRUE;
    *(HWND *)param = window;
    return FALSE;
}

static int WaitForBalloon(DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    HWND balloon = NULL;
    for (;;) {
        EnumWindows(FindBalloon, (LPARAM)&balloon);
        if (balloon || GetTickCount() - start > timeout_ms) break;
        Sleep(20);
    }
    if (!balloon) {
        printf("{\"balloon\": null}\n");
        return 1;
    }
    /* A tooltip answers WM_GETTEXT with the text it shows; the message is
     * carried across processes, unlike TTM_GETTEXT. */
    WCHAR text[512], process[MAX_PATH];
    if (SendMessageTimeoutW(balloon, WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, kAnswerMs,
                            NULL) == 0)
        text[0] = 0;
    text[511] = 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(balloon, &pid);
    ProcessName(pid, process, MAX_PATH);
    RECT r;
    GetWindowRect(balloon, &r);
    printf("{\"balloon\": %lu, \"text\": ", (unsigned long)(ULONG_PTR)balloon);
    PrintJsonString(text);
    printf(", ");
    PrintRect("rect", &r);
    printf(", \"process\": ");
    PrintJsonString(process);
    printf("}\n");
    return 0;
}

/* ---------------------------------------------------------------- /hold */

/* Keeps an icon in the notification area (on a hidden window of its own), so
 * that the shell's taskbar is up before the installer starts; until the time
 * is up or the release file exists. */
static int Hold(DWORD ms, const WCHAR *release)
{
    HWND window = CreateWindowExW(0, L"Static", L"vexo e2e hold", WS_POPUP, 0, 0, 1, 1, NULL,
                                  NULL, GetModuleHandleW(NULL), NULL);
    if (!window) return 3;
    NOTIFYICONDATAW icon;
    memset(&icon, 0, sizeof icon);
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = LoadIconW(NULL, (LPCWSTR)IDI_APPLICATION);
    lstrcpyW(icon.szTip, L"vexo e2e hold");
    BOOL added = Shell_NotifyIconW(NIM_ADD, &icon);
    printf("{\"holding\": %s}\n", added ? "true" : "false");
    fflush(stdout);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms && GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
    }
    if (added) Shell_NotifyIconW(NIM_DELETE, &icon);
    DestroyWindow(window);
    return added ? 0 : 1;
}

/* ---------------------------------------------------------------- /render */

static int HexToWide(const WCHAR *hex, WCHAR *out, size_t size)
{
    size_t n = wcslen(hex);
    if (n % 4 || n / 4 >= size) return 0;
    for (size_t i = 0; i < n / 4; i++) {
        WCHAR unit = 0;
        /* UTF-16LE: two bytes, low first */
        for (int b = 0; b < 2; b++) {
            WCHAR pair[3] = {hex[i * 4 + b * 2], hex[i * 4 + b * 2 + 1], 0};
            unit |= (WCHAR)(wcstoul(pair, NULL, 16) << (8 * b));
        }
        out[i] = unit;
    }
    out[n / 4] = 0;
    return 1;
}

static int Render(const WCHAR *path, int width, int height, const WCHAR *hex)
{
    WCHAR wide[1024];
    char text[2048];
    if (width <= 0 || height <= 0 || width > 2048 || height > 2048 ||
        !HexToWide(hex, wide, 1024))
        return 2;
    int len = WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
    if (len <= 0) return 2;

    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  /* top-down */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);

    RECT all = {0, 0, width, height};
    HBRUSH background = CreateSolidBrush(RGB(240, 240, 240));
    FillRect(dc, &all, background);
    LOGFONTA font_spec;
    memset(&font_spec, 0, sizeof font_spec);
    font_spec.lfHeight = 16;
    HFONT font = CreateFontIndirectA(&font_spec);
    HGDIOBJ old_font = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text, lstrlenA(text), &all,
              DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, old_font);
    GdiFlush();

    int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file;
    memset(&file, 0, sizeof file);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + (DWORD)(stride * height);
    int result = 3;
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written;
        BOOL ok = WriteFile(f, &file, sizeof file, &written, NULL) &&
                  WriteFile(f, &info.bmiHeader, sizeof info.bmiHeader, &written, NULL) &&
                  WriteFile(f, bits, (DWORD)(stride * height), &written, NULL);
        CloseHandle(f);
        result = ok ? 0 : 3;
    }
    printf("{\"rendered\": %s}\n", result == 0 ? "true" : "false");

    SelectObject(dc, old_bitmap);
    DeleteObject(font);
    DeleteObject(background);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
    return result;
}

int main(void)
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int result = 2;
    if (argv && argc == 3 && wcscmp(argv[1], L"/window") == 0)
        result = ProbeWindow(argv[2]);
    else if (argv && argc == 2 && wcscmp(argv[1], L"/workarea") == 0)
        result = ProbeWorkArea();
    else if (argv && argc == 3 && wcscmp(argv[1], L"/balloon") == 0)
        result = WaitForBalloon((DWORD)wcstoul(argv[2], NULL, 10));
    else if (argv && argc == 4 && wcscmp(argv[1], L"/hold") == 0)
        result = Hold((DWORD)wcstoul(argv[2], NULL, 10), argv[3]);
    else if (argv && argc == 6 && wcscmp(argv[1], L"/render") == 0)
        result = Render(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), argv[5]);
    else
        fprintf(stderr, "usage: window_probe.exe /window <title>\n"
                        "       window_probe.exe /workarea\n"
                        "       window_probe.exe /hold <ms> <release file>\n"
                        "       window_probe.exe /balloon <timeout ms>\n"
                        "       window_probe.exe /render <bmp> <width> <height> <utf-16le hex>\n");
    fflush(stdout);
    LocalFree(argv);
    return result;
}
