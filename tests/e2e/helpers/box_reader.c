/* Reads message boxes from inside Wine, and answers them.
 *
 * usage: box_reader.exe /wait <timeout ms> <caption> [<button id to press>]
 *   waits until a visible message box (a #32770 dialog of statics and
 *   standard buttons only) with this caption exists, then
 *   prints one JSON object: its caption, text, icon and buttons, and, when a
 *   button id is given, presses that button. Prints {"box": null} when no
 *   box appeared in time (exit 1).
 * usage: box_reader.exe /string <module path> <string id>
 *   prints the module's string as a JSON string (how the program under test
 *   loads it), so a test compares a box with the real resource text.
 *
 * The icon is told by its pixels: the icon control is captured from the
 * screen and compared with each stock icon drawn the same way, since icon
 * handles cannot be compared across processes under Wine. It reads "error",
 * "question", "warning", "information", "none" (no icon control) or "unknown".
 *
 * All text is printed as ASCII JSON (\uXXXX escapes), so the caller's code
 * page does not matter. */
#include <windows.h>
#include "json_out.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef struct {
    HWND icon;
    HWND text;
    int buttons;
    HWND button[8];
} BoxParts;

static BOOL CALLBACK CollectPart(HWND child, LPARAM param)
{
    BoxParts *parts = (BoxParts *)param;
    WCHAR cls[64];
    if (!GetClassNameW(child, cls, 64) || !IsWindowVisible(child)) return TRUE;
    if (_wcsicmp(cls, L"Static") == 0) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) parts->icon = child;
        else if (!parts->text || GetWindowTextLengthW(child) > GetWindowTextLengthW(parts->text))
            parts->text = child;
    } else if (_wcsicmp(cls, L"Button") == 0 && parts->buttons < 8) {
        parts->button[parts->buttons++] = child;
    }
    return TRUE;
}

/* Mismatching pixels between the screen under the control and a stock icon
 * drawn on the control's own background, in per cent. */
static int IconDistance(HWND control, LPCWSTR stock)
{
    RECT r;
    GetWindowRect(control, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return 100;

    HDC screen = GetDC(NULL);
    HDC shot = CreateCompatibleDC(screen), ref = CreateCompatibleDC(screen);
    HBITMAP shot_bm = CreateCompatibleBitmap(screen, w, h);
    HBITMAP ref_bm = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old_shot = SelectObject(shot, shot_bm), old_ref = SelectObject(ref, ref_bm);
    BitBlt(shot, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);

    /* The corner pixel is background wherever the icon leaves it. */
    HBRUSH bg = CreateSolidBrush(GetPixel(shot, 0, 0));
    RECT all = {0, 0, w, h};
    FillRect(ref, &all, bg);
    DeleteObject(bg);
    HICON icon = LoadIconW(NULL, stock);
    int iw = GetSystemMetrics(SM_CXICON), ih = GetSystemMetrics(SM_CYICON);
    DrawIconEx(ref, 0, 0, icon, iw, ih, 0, NULL, DI_NORMAL);

    int differ = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            COLORREF a = GetPixel(shot, x, y), b = GetPixel(ref, x, y);
            if (abs(GetRValue(a) - GetRValue(b)) > 24 || abs(GetGValue(a) - GetGValue(b)) > 24 ||
                abs(GetBValue(a) - GetBValue(b)) > 24)
                differ++;
        }
    SelectObject(shot, old_shot);
    SelectObject(ref, old_ref);
    DeleteObject(shot_bm);
    DeleteObject(ref_bm);
    DeleteDC(shot);
    DeleteDC(ref);
    ReleaseDC(NULL, screen);
    return differ * 100 / (w * h);
}

static const char *IdentifyIcon(HWND control, int *best_distance)
{
    static const struct { LPCWSTR id; const char *name; } kStock[] = {
        {IDI_HAND, "error"}, {IDI_QUESTION, "question"},
        {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"},
    };
    const char *best = "unknown";
    *best_distance = 100;
    if (!control || !SendMessageW(control, STM_GETICON, 0, 0)) return "none";
    for (size_t i = 0; i < sizeof kStock / sizeof kStock[0]; i++) {
        int d = IconDistance(control, kStock[i].id);
        if (d < *best_distance) {
            *best_distance = d;
            best = kStock[i].name;
        }
    }
    return *best_distance <= 10 ? best : "unknown";
}

/* A message box holds nothing but statics and buttons with the standard
 * command ids (IDOK .. IDCONTINUE); a dialog of the program under test with
 * the same caption (its progress window) holds other controls and ids. */
static BOOL CALLBACK CheckMessageBoxChild(HWND child, LPARAM param)
{
    WCHAR cls[64];
    if (!IsWindowVisible(child)) return TRUE;
    GetClassNameW(child, cls, 64);
    int id = GetDlgCtrlID(child);
    if (_wcsicmp(cls, L"Static") == 0) return TRUE;
    if (_wcsicmp(cls, L"Button") == 0 && id >= IDOK && id <= IDCONTINUE) return TRUE;
    *(BOOL *)param = FALSE;
    return FALSE;
}

typedef struct {
    const WCHAR *caption;
    HWND found;
} BoxSearch;

static BOOL CALLBACK FindMessageBox(HWND window, LPARAM param)
{
    BoxSearch *search = (BoxSearch *)param;
    WCHAR cls[64], title[512];
    if (!IsWindowVisible(window) || !GetClassNameW(window, cls, 64) ||
        wcscmp(cls, L"#32770") != 0)
        return TRUE;
    GetWindowTextW(window, title, 512);
    if (wcscmp(title, search->caption) != 0) return TRUE;
    BOOL is_box = TRUE;
    EnumChildWindows(window, CheckMessageBoxChild, (LPARAM)&is_box);
    if (!is_box) return TRUE;
    search->found = window;
    return FALSE;
}

static int WaitForBox(DWORD timeout_ms, const WCHAR *caption, int press)
{
    DWORD start = GetTickCount();
    BoxSearch search = {caption, NULL};
    for (;;) {
        EnumWindows(FindMessageBox, (LPARAM)&search);
        if (search.found) break;
        if (GetTickCount() - start > timeout_ms) {
            printf("{\"box\": null}\n");
            return 1;
        }
        Sleep(50);
    }
    HWND box = search.found;
    BoxParts parts;

    /* A box can be visible before its controls are: let it finish showing
     * and painting, then collect its parts and photograph its icon; retry
     * while a part is missing or the picture matches no stock icon. */
    int distance = 100;
    const char *icon = "none";
    for (int attempt = 0; attempt < 10; attempt++) {
        Sleep(attempt ? 200 : 300);
        memset(&parts, 0, sizeof parts);
        EnumChildWindows(box, CollectPart, (LPARAM)&parts);
        icon = IdentifyIcon(parts.icon, &distance);
        if (parts.text && parts.buttons > 0 && GetWindowTextLengthW(parts.text) > 0 &&
            strcmp(icon, "unknown") != 0)
            break;
    }

    WCHAR text[4096];
    printf("{\"box\": %lu, \"caption\": ", (unsigned long)(ULONG_PTR)box);
    GetWindowTextW(box, text, 4096);
    PrintJsonString(text);
    printf(", \"text\": ");
    text[0] = 0;
    if (parts.text) GetWindowTextW(parts.text, text, 4096);
    PrintJsonString(text);
    printf(", \"icon\": \"%s\", \"icon_distance\": %d, \"owner\": %lu, \"buttons\": [",
           icon, distance, (unsigned long)(ULONG_PTR)GetWindow(box, GW_OWNER));
    for (int i = 0; i < parts.buttons; i++) {
        GetWindowTextW(parts.button[i], text, 4096);
        printf("%s{\"id\": %d, \"text\": ", i ? ", " : "", GetDlgCtrlID(parts.button[i]));
        PrintJsonString(text);
        printf("}");
    }
    printf("]");
    if (press) {
        HWND button = GetDlgItem(box, press);
        BOOL posted = PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                                   (LPARAM)button);
        printf(", \"pressed\": %s", posted ? "true" : "false");
    }
    printf("}\n");
    return 0;
}

static int PrintString(const WCHAR *module_path, int id)
{
    HMODULE module = LoadLibraryExW(module_path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        printf("null\n");
        return 2;
    }
    WCHAR text[4096];
    int n = LoadStringW(module, (UINT)id, text, 4096);
    if (n <= 0) {
        printf("null\n");
        return 1;
    }
    PrintJsonString(text);
    printf("\n");
    return 0;
}

int main(void)
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int result = 2;
    if (argv && argc >= 4 && wcscmp(argv[1], L"/wait") == 0)
        result = WaitForBox((DWORD)wcstoul(argv[2], NULL, 10), argv[3],
                            argc >= 5 ? _wtoi(argv[4]) : 0);
    else if (argv && argc == 4 && wcscmp(argv[1], L"/string") == 0)
        result = PrintString(argv[2], _wtoi(argv[3]));
    else
        fprintf(stderr, "usage: box_reader.exe /wait <ms> <caption> [<button id>]\n"
                        "       box_reader.exe /string <module> <id>\n");
    fflush(stdout);
    LocalFree(argv);
    return result;
}
