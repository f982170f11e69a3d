/* A stranger's "wintrust.dll", left in the folder the installer runs from.
 * It answers every check with TRUST_E_NOSIGNATURE, so a run that loaded it
 * instead of the system's library ends with a different status. */
#include <windows.h>

__declspec(dllexport) LONG WINAPI WinVerifyTrust(HWND window, GUID *action, LPVOID data)
{
    (void)window; (void)action; (void)data;
    return (LONG)0x800B0100L;
}

__declspec(dllexport) void *WINAPI WTHelperProvDataFromStateData(HANDLE state)
{
    (void)state;
    return NULL;
}

__declspec(dllexport) void *WINAPI WTHelperGetProvSignerFromChain(void *data, DWORD signer, BOOL counter,
                                                                  DWORD counterIndex)
{
    (void)data; (void)signer; (void)counter; (void)counterIndex;
    return NULL;
}

__declspec(dllexport) void *WINAPI WTHelperGetProvCertFromChain(void *signer, DWORD index)
{
    (void)signer; (void)index;
    return NULL;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance; (void)reason; (void)reserved;
    return TRUE;
}
