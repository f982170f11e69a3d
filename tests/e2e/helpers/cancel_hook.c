/* Hooked into every GUI thread by "probe run <ms> c": in the program that
 * it starts (VEXO_E2E_CANCEL set), presses Cancel on the
 * progress window (the dialog with a progress bar 114 and a button 112) as
 * soon as it is initialised, so the click waits in the queue for the first
 * message pump of the installer, the one that ends the window's creation.
 * Also the tests' stand-in for a stranger's DLL planted next to a program. */
#include <windows.h>

__declspec(dllexport) LRESULT CALLBACK CancelHook(int code, WPARAM wparam, LPARAM lparam)
{
    const CWPRETSTRUCT *m = (const CWPRETSTRUCT *)lparam;
    if (code == HC_ACTION && m->message == WM_INITDIALOG && GetDlgItem(m->hwnd, 114) &&
        GetEnvironmentVariableA("VEXO_E2E_CANCEL", NULL, 0))
        PostMessageW(m->hwnd, WM_COMMAND, MAKEWPARAM(112, BN_CLICKED), (LPARAM)GetDlgItem(m->hwnd, 112));
    return CallNextHookEx(NULL, code, wparam, lparam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char marker[MAX_PATH];
    (void)instance, (void)reserved;
    /* A planted copy leaves a mark where the test looks for one. */
    if (reason == DLL_PROCESS_ATTACH && GetEnvironmentVariableA("VEXO_E2E_PLANTED", marker, MAX_PATH) - 1 < MAX_PATH - 1)
        CloseHandle(CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    return TRUE;
}
