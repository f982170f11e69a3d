/* The tests' eyes and hands inside Wine. Every answer is one JSON object a
 * line, text as \uXXXX escapes, so the caller's code page does not matter.
 *
 *   probe run <ms> <flags> <command line>
 *       starts the command line (flags: "r" with the Administrators group
 *       deny-only, "c" with cancel_hook.dll hooked into every GUI thread,
 *       "-" none), reads and answers each message box of it ({"box": text,
 *       "icon", "owner": "none" | "progress" | "other", "buttons"}; No where
 *       there is one, else OK; "h" in flags holds each box 1 s first), and
 *       ends with {"exit": full 32-bit code} or {"timeout": true}.
 *   probe window      the progress window: rectangles, bar, button, and the
 *                     work area as a process started now sees it
 *   probe hold <ms> <file>   an icon in the notification area until the time
 *                     is up or the file exists; tells when the taskbar shows
 *   probe balloon <ms>       waits for a balloon of another process
 *   probe render <bmp> <utf-16le hex>   the status line as the installer draws it
 *   probe cache [/delete] <url>...   {"<url>": "present" | "absent"}
 *   probe tamper <url>  as another program of the user would: overwrites,
 *                     renames and deletes the file of url's cache entry,
 *                     renames its folder, plants vexo_plant.dll (a copy of
 *                     cancel_hook.dll) beside it and in TEMP; the error of
 *                     each ({"overwrite": 32, ...}; 0 done)
 *   probe load <dll>  loads a library (exit code 0 when it did)
 *   probe fill <prefix> <n>, probe entries <prefix> [/delete]
 *                     the user's own cache entries: made, counted */
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Json(const WCHAR *s)
{
    putchar('"');
    for (; *s; s++)
        if (*s == '"' || *s == '\\') printf("\\%c", (char)*s);
        else if (*s < 0x20 || *s > 0x7e) printf("\\u%04x", (unsigned)*s);
        else putchar((char)*s);
    putchar('"');
}

/* A window's rectangle, or with no window the work area. */
static void Rect(const char *name, HWND w)
{
    RECT r = {0, 0, 0, 0};
    w ? GetWindowRect(w, &r) : SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
    printf("\"%s\": [%ld, %ld, %ld, %ld]", name, r.left, r.top, r.right, r.bottom);
}

static BOOL IsClass(HWND w, const WCHAR *name)
{
    WCHAR cls[64];
    return GetClassNameW(w, cls, 64) && _wcsicmp(cls, name) == 0;
}

static BOOL IsProgressWindow(HWND w) { return w && IsClass(w, L"#32770") && GetDlgItem(w, 114); }

/* ---------------------------------------------------------------- boxes */

typedef struct { DWORD pid; HWND found, skip, icon, text, button[4]; int buttons; } Box;

/* A message box: a #32770 dialog of statics and standard buttons (one at
 * least) only. */
static BOOL CALLBACK BoxPart(HWND c, LPARAM buttons)
{
    int id = GetDlgCtrlID(c);
    if (IsWindowVisible(c) && !IsClass(c, L"Static"))
        *(int *)buttons += IsClass(c, L"Button") && id >= 1 && id <= 11 ? 1 : -1000;
    return TRUE;
}

static BOOL CALLBACK FindBox(HWND w, LPARAM p)
{
    Box *b = (Box *)p;
    DWORD pid = 0;
    int buttons = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != b->pid || w == b->skip || !IsWindowVisible(w) || !IsClass(w, L"#32770")) return TRUE;
    EnumChildWindows(w, BoxPart, (LPARAM)&buttons);
    if (buttons > 0) b->found = w;
    return buttons <= 0;
}

static BOOL CALLBACK CollectPart(HWND c, LPARAM p)
{
    Box *b = (Box *)p;
    if (!IsWindowVisible(c)) return TRUE;
    if (IsClass(c, L"Button") && b->buttons < 4) b->button[b->buttons++] = c;
    else if (IsClass(c, L"Static") && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) b->icon = c;
    else if (IsClass(c, L"Static") && GetWindowTextLengthW(c) > 0) b->text = c;
    return TRUE;
}

/* Per cent of the pixels where the screen under the icon control and a
 * stock icon drawn on its background differ: icon handles cannot be
 * compared across processes under Wine. */
static int IconDistance(HWND control, LPCWSTR stock)
{
    RECT r, all;
    GetWindowRect(control, &r);
    int w = r.right - r.left, h = r.bottom - r.top, differ = 0;
    if (w <= 0 || h <= 0 || w > 128 || h > 128) return 100;
    SetRect(&all, 0, 0, w, h);
    HDC screen = GetDC(NULL), shot = CreateCompatibleDC(screen), ref = CreateCompatibleDC(screen);
    HBITMAP b1 = CreateCompatibleBitmap(screen, w, h), b2 = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ o1 = SelectObject(shot, b1), o2 = SelectObject(ref, b2);
    BitBlt(shot, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    HBRUSH bg = CreateSolidBrush(GetPixel(shot, 0, 0));
    FillRect(ref, &all, bg);
    DrawIconEx(ref, 0, 0, LoadIconW(NULL, stock), GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0, NULL,
               DI_NORMAL);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            COLORREF a = GetPixel(shot, x, y), b = GetPixel(ref, x, y);
            differ += abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) +
                      abs(GetBValue(a) - GetBValue(b)) > 72;
        }
    SelectObject(shot, o1), SelectObject(ref, o2), DeleteObject(b1), DeleteObject(b2), DeleteObject(bg);
    DeleteDC(shot), DeleteDC(ref), ReleaseDC(NULL, screen);
    return differ * 100 / (w * h);
}

static const char *Icon(HWND control)
{
    static const LPCWSTR stock[] = {IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK};
    static const char *names[] = {"error", "question", "warning", "information", "unknown"};
    int best = 4, distance = 11;
    for (int i = 0; control && i < 4; i++) {
        int d = IconDistance(control, stock[i]);
        if (d < distance) distance = d, best = i;
    }
    return control ? names[best] : "none";
}

/* Prints the box and answers it: No where there is one, else OK. */
static void Answer(Box *b, BOOL hold)
{
    const char *icon = "none";
    WCHAR text[4096] = L"";
    for (int attempt = 0; attempt < 12; attempt++) {   /* a box shows before it has painted its parts */
        Sleep(attempt ? 150 : 300);
        b->icon = b->text = NULL, b->buttons = 0;
        EnumChildWindows(b->found, CollectPart, (LPARAM)b);
        icon = Icon(b->icon);
        if (b->text && b->buttons && strcmp(icon, "unknown")) break;
    }
    if (b->text) GetWindowTextW(b->text, text, 4096);
    HWND owner = GetWindow(b->found, GW_OWNER);
    printf("{\"box\": "), Json(text), printf(", \"icon\": \"%s\", \"owner\": \"%s\", \"buttons\": [", icon,
           !owner ? "none" : IsProgressWindow(owner) ? "progress" : "other");
    int press = IDOK;
    for (int i = 0; i < b->buttons; i++) {
        int id = GetDlgCtrlID(b->button[i]);
        printf("%s%d", i ? ", " : "", id);
        press = id == IDNO ? IDNO : press;
    }
    printf("]}\n");
    fflush(stdout);
    if (hold) Sleep(1000);
    PostMessageW(b->found, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), (LPARAM)GetDlgItem(b->found, press));
}

static int Run(DWORD ms, const char *flags, char *command)
{
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi;
    HANDLE token = NULL, restricted = NULL;
    HHOOK hook = NULL;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SID_AND_ATTRIBUTES admins = {NULL, 0};
    if (strchr(flags, 'r') &&
        (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &token) ||
         !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                   &admins.Sid) ||
         !CreateRestrictedToken(token, 0, 1, &admins, 0, NULL, 0, NULL, &restricted)))
        return printf("{\"error\": %lu}\n", GetLastError()), 3;
    if (strchr(flags, 'c')) {   /* the hook acts in processes with VEXO_E2E_CANCEL set */
        HMODULE dll = LoadLibraryA("cancel_hook.dll");
        HOOKPROC proc = dll ? (HOOKPROC)GetProcAddress(dll, "CancelHook") : NULL;
        if (!proc || !(hook = SetWindowsHookExW(WH_CALLWNDPROCRET, proc, dll, 0)))
            return printf("{\"error\": %lu}\n", GetLastError()), 3;
        SetEnvironmentVariableA("VEXO_E2E_CANCEL", "1");
    }
    if (!(restricted ? CreateProcessAsUserA(restricted, NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)
                     : CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)))
        return printf("{\"error\": %lu}\n", GetLastError()), 3;
    Box b = {pi.dwProcessId};
    DWORD start = GetTickCount(), code = 0;
    while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > ms) {
            TerminateProcess(pi.hProcess, 1);
            return printf("{\"timeout\": true}\n"), 4;
        }
        b.found = NULL;
        EnumWindows(FindBox, (LPARAM)&b);
        if (b.found) Answer(&b, strchr(flags, 'h') != NULL), b.skip = b.found;
    }
    GetExitCodeProcess(pi.hProcess, &code);
    if (hook) UnhookWindowsHookEx(hook);
    printf("{\"exit\": %lu}\n", code);
    return 0;
}

/* ---------------------------------------------------------------- window */

static BOOL CALLBACK FindProgress(HWND w, LPARAM p)
{
    return !(IsWindowVisible(w) && IsProgressWindow(w) && (*(HWND *)p = w));
}

static int Window(void)
{
    HWND w = NULL;
    EnumWindows(FindProgress, (LPARAM)&w);
    if (!w) return printf("{\"window\": null}\n"), 1;
    HWND bar = GetDlgItem(w, 114), button = GetDlgItem(w, 112);
    RECT c;
    POINT o = {0, 0};
    GetClientRect(w, &c);
    ClientToScreen(w, &o);
    printf("{\"window\": %lu, ", (unsigned long)(ULONG_PTR)w);
    Rect("rect", w);
    printf(", \"client\": [%ld, %ld, %ld, %ld], ", o.x, o.y, c.right, c.bottom);
    Rect("work_area", NULL);
    /* Messages with a time-out: the installer answers only while it pumps. */
    DWORD_PTR pos = 0, high = 0;
    WCHAR text[64] = L"";
    SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1500, &pos);
    SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1500, &high);
    SendMessageTimeoutW(button, WM_GETTEXT, 64, (LPARAM)text, SMTO_ABORTIFHUNG, 1500, NULL);
    printf(", \"bar\": {\"pos\": %lu, \"high\": %lu, ", (unsigned long)pos, (unsigned long)high);
    Rect("rect", bar);
    printf("}, \"button\": {\"text\": "), Json(text), printf(", "), Rect("rect", button), printf("}}\n");
    return 0;
}

static int Hold(DWORD ms, const char *release)
{
    NOTIFYICONDATAW icon = {sizeof icon};
    BOOL shown = FALSE;
    icon.hWnd = CreateWindowExW(0, L"Static", L"hold", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    icon.uID = 1, icon.uFlags = NIF_ICON, icon.hIcon = LoadIconW(NULL, (LPCWSTR)IDI_APPLICATION);
    BOOL added = Shell_NotifyIconW(NIM_ADD, &icon);
    for (DWORD t = GetTickCount(); GetTickCount() - t < ms && GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES;) {
        MSG m;
        HWND tray = FindWindowW(L"Shell_TrayWnd", NULL);
        if (!shown && tray && IsWindowVisible(tray)) {
            printf("{\"taskbar\": true}\n");
            fflush(stdout);
            shown = TRUE;
        }
        while (PeekMessageW(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
    }
    if (added) Shell_NotifyIconW(NIM_DELETE, &icon);
    return !added;
}

static BOOL CALLBACK FindBalloon(HWND w, LPARAM p)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return !(pid != GetCurrentProcessId() && IsWindowVisible(w) && IsClass(w, TOOLTIPS_CLASSW) &&
             (GetWindowLongW(w, GWL_STYLE) & TTS_BALLOON) && (*(HWND *)p = w));
}

static int Balloon(DWORD ms)
{
    HWND w = NULL;
    WCHAR text[512] = L"";
    for (DWORD t = GetTickCount(); !w && GetTickCount() - t < ms; Sleep(20)) EnumWindows(FindBalloon, (LPARAM)&w);
    if (!w) return printf("{\"balloon\": null}\n"), 1;
    SendMessageTimeoutW(w, WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, 1500, NULL);
    printf("{\"balloon\": "), Json(text), printf("}\n");
    return 0;
}

/* The status line's way: a 0xF0F0F0 field, a LOGFONTA zero but for a
 * height of 16, transparent background, DrawTextA of the ANSI text. */
static int Render(const char *path, const char *hex)
{
    WCHAR wide[512] = L"";
    char text[1024];
    for (size_t i = 0; i < strlen(hex) / 4 && i < 511; i++) {
        char unit[5] = {hex[4 * i + 2], hex[4 * i + 3], hex[4 * i], hex[4 * i + 1], 0};
        wide[i] = (WCHAR)strtoul(unit, NULL, 16);
    }
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
    BITMAPINFOHEADER info = {sizeof info, 280, -24, 1, 24, BI_RGB};
    BITMAPFILEHEADER file = {0x4D42, sizeof file + sizeof info + 840 * 24, 0, 0, sizeof file + sizeof info};
    void *bits = NULL;
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = CreateDIBSection(dc, (BITMAPINFO *)&info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 280, 24};
    HBRUSH bg = CreateSolidBrush(RGB(240, 240, 240));
    LOGFONTA lf = {16};
    HFONT font = CreateFontIndirectA(&lf);
    FillRect(dc, &all, bg);
    SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text, lstrlenA(text), &all, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    GdiFlush();
    DWORD written;
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    BOOL ok = WriteFile(f, &file, sizeof file, &written, NULL) && WriteFile(f, &info, sizeof info, &written, NULL) &&
              WriteFile(f, bits, 840 * 24, &written, NULL);
    CloseHandle(f);
    SelectObject(dc, old), DeleteObject(font), DeleteObject(bg), DeleteObject(bitmap), DeleteDC(dc);
    printf("{\"rendered\": %s}\n", ok ? "true" : "false");
    return !ok;
}

static int Cache(int argc, char **argv)
{
    BOOL remove = strcmp(argv[0], "/delete") == 0;
    printf("{");
    for (int i = remove; i < argc; i++) {
        DWORD size = 0;
        BOOL present = GetUrlCacheEntryInfoA(argv[i], NULL, &size) || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
        if (present && remove) DeleteUrlCacheEntryA(argv[i]);
        printf("%s\"%s\": \"%s\"", i > remove ? ", " : "", argv[i], present ? "present" : "absent");
    }
    printf("}\n");
    return 0;
}

/* "fill": n entries of the user's own, <prefix>0 ... with a small file each;
 * "entries": how many entries of <prefix> there are, and how many of them
 * still have their file (deleted with /delete). */
static int Entries(const char *verb, const char *prefix, const char *arg)
{
    static char buffer[65536];
    INTERNET_CACHE_ENTRY_INFOA *entry = (INTERNET_CACHE_ENTRY_INFOA *)buffer;
    char url[512], file[MAX_PATH];
    DWORD size = sizeof buffer, n = 0, files = 0, written;
    FILETIME never = {0, 0};
    if (!strcmp(verb, "fill")) {
        for (DWORD i = 0; i < strtoul(arg, NULL, 10); i++) {
            snprintf(url, sizeof url, "%s%lu", prefix, i);
            if (!CreateUrlCacheEntryA(url, 0, "txt", file, 0)) continue;
            HANDLE f = CreateFileA(file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            WriteFile(f, url, lstrlenA(url), &written, NULL), CloseHandle(f);
            n += CommitUrlCacheEntryA(url, file, never, never, NORMAL_CACHE_ENTRY, NULL, 0, NULL, NULL) != 0;
        }
        return printf("{\"made\": %lu}\n", n), 0;
    }
    HANDLE search = FindFirstUrlCacheEntryA(NULL, entry, &size);
    for (BOOL more = search != NULL; more; size = sizeof buffer, more = FindNextUrlCacheEntryA(search, entry, &size))
        if (entry->lpszSourceUrlName && !strncmp(entry->lpszSourceUrlName, prefix, strlen(prefix))) {
            n++, files += GetFileAttributesA(entry->lpszLocalFileName) != INVALID_FILE_ATTRIBUTES;
            if (arg) DeleteUrlCacheEntryA(entry->lpszSourceUrlName);
        }
    if (search) FindCloseUrlCache(search);
    return printf("{\"entries\": %lu, \"files\": %lu}\n", n, files), 0;
}

static int Tamper(const char *url)
{
    char buffer[4096], moved[MAX_PATH + 8];
    INTERNET_CACHE_ENTRY_INFOA *entry = (INTERNET_CACHE_ENTRY_INFOA *)buffer;
    char folder[MAX_PATH], *cut;
    DWORD size = sizeof buffer, written, error[5];
    if (!GetUrlCacheEntryInfoA(url, entry, &size) || !entry->lpszLocalFileName) return printf("{}\n"), 1;
    const char *file = entry->lpszLocalFileName;
    HANDLE f = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    error[0] = f == INVALID_HANDLE_VALUE ? GetLastError() : (WriteFile(f, "not it", 6, &written, NULL), CloseHandle(f), 0);
    snprintf(moved, sizeof moved, "%s.moved", file);
    error[1] = MoveFileA(file, moved) ? (MoveFileA(moved, file), 0) : GetLastError();
    error[2] = DeleteFileA(file) ? 0 : GetLastError();
    lstrcpynA(folder, file, MAX_PATH), (cut = strrchr(folder, '\\')) && (*cut = 0);   /* the file's folder */
    snprintf(moved, sizeof moved, "%s.moved", folder);
    error[3] = MoveFileA(folder, moved) ? (MoveFileA(moved, folder), 0) : GetLastError();
    snprintf(moved, sizeof moved, "%s\\vexo_plant.dll", folder);
    error[4] = CopyFileA("C:\\vexo_e2e\\cancel_hook.dll", moved, FALSE) ? 0 : GetLastError();
    GetTempPathA(MAX_PATH, folder);
    snprintf(moved, sizeof moved, "%svexo_plant.dll", folder);
    error[4] |= CopyFileA("C:\\vexo_e2e\\cancel_hook.dll", moved, FALSE) ? 0 : GetLastError();
    printf("{\"overwrite\": %lu, \"rename\": %lu, \"delete\": %lu, \"rename folder\": %lu, \"plant\": %lu}\n",
           error[0], error[1], error[2], error[3], error[4]);
    return 0;
}

int main(int argc, char **argv)
{
    int r = 2;
    const char *verb = argc > 1 ? argv[1] : "";
    if (!strcmp(verb, "run") && argc == 5) r = Run(strtoul(argv[2], NULL, 10), argv[3], argv[4]);
    else if (!strcmp(verb, "window")) r = Window();
    else if (!strcmp(verb, "hold") && argc == 4) r = Hold(strtoul(argv[2], NULL, 10), argv[3]);
    else if (!strcmp(verb, "balloon") && argc == 3) r = Balloon(strtoul(argv[2], NULL, 10));
    else if (!strcmp(verb, "render") && argc == 4) r = Render(argv[2], argv[3]);
    else if (!strcmp(verb, "cache") && argc > 2) r = Cache(argc - 2, argv + 2);
    else if (!strcmp(verb, "load") && argc == 3) r = !LoadLibraryA(argv[2]);
    else if (!strcmp(verb, "tamper") && argc == 3) r = Tamper(argv[2]);
    else if ((!strcmp(verb, "fill") || !strcmp(verb, "entries")) && argc >= 3) r = Entries(verb, argv[2], argv[3]);
    else fprintf(stderr, "usage: see probe.c\n");
    fflush(stdout);
    return r;
}
