#include "driver/prerequisites.h"

#include "base/platform_libraries.h"
#include "base/system_library.h"

const char kSetupMutexName[] = "Global\\_MSISETUP_{448B91C6-AEEF-4256-8DBB-C153FA377FEE}";

namespace {

const char kAdvapi32[] = "advapi32.dll";

typedef BOOL(WINAPI* CheckTokenMembershipFn)(HANDLE token, PSID sid, PBOOL isMember);
typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE process, DWORD access, PHANDLE token);
typedef BOOL(WINAPI* LookupPrivilegeValueAFn)(LPCSTR systemName, LPCSTR name, PLUID luid);
typedef BOOL(WINAPI* AdjustTokenPrivilegesFn)(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                              DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                              PDWORD returnLength);

}  // namespace

bool IsOsVersionAtLeast(DWORD major, DWORD minor, WORD servicePackMajor) {
  OSVERSIONINFOEXA request = {};
  request.dwOSVersionInfoSize = sizeof request;
  request.dwMajorVersion = major;
  request.dwMinorVersion = minor;
  request.wServicePackMajor = servicePackMajor;

  // Systems without the version functions are older than any we support.
  const VersionEntries* version = VersionFunctions();
  if (!version) return false;
  ULONGLONG mask = 0;
  mask = version->VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = version->VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = version->VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return version->VerifyVersionInfoA(&request, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != 0;
}

bool IsSupportedOs() {
  // Windows 9x and NT 4 have no VerifyVersionInfoA: stop at the major
  // version. A failing GetVersionExA leaves 0 there and answers no.
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  if (info.dwMajorVersion < 5) return false;
  return IsOsVersionAtLeast(5, 2, 0) || IsOsVersionAtLeast(5, 1, 0) || IsOsVersionAtLeast(5, 0, 3);
}

bool IsAnotherSetupRunning(HANDLE* mutex) {
  *mutex = CreateMutexA(nullptr, FALSE, kSetupMutexName);
  if (!*mutex) return true;  // a mutex we may not open is another setup's
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                0, 0, 0, &administrators))
    return false;

  // CheckTokenMembership came with Windows 2000; without it the answer is no.
  BOOL member = FALSE;
  HMODULE advapi32 = LoadLibraryA(kAdvapi32);
  if (advapi32) {
    CheckTokenMembershipFn checkTokenMembership = FindEntryPoint<CheckTokenMembershipFn>(advapi32, "CheckTokenMembership");
    if (checkTokenMembership && !checkTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeLibrary(advapi32);
  }
  FreeSid(administrators);
  return member != FALSE;
}

bool EnableShutdownPrivilege() {
  HMODULE advapi32 = LoadLibraryA(kAdvapi32);
  if (!advapi32) return false;
  OpenProcessTokenFn openProcessToken = FindEntryPoint<OpenProcessTokenFn>(advapi32, "OpenProcessToken");
  LookupPrivilegeValueAFn lookupPrivilegeValue = FindEntryPoint<LookupPrivilegeValueAFn>(advapi32, "LookupPrivilegeValueA");
  AdjustTokenPrivilegesFn adjustTokenPrivileges = FindEntryPoint<AdjustTokenPrivilegesFn>(advapi32, "AdjustTokenPrivileges");
  HANDLE token = nullptr;
  if (!openProcessToken || !lookupPrivilegeValue || !adjustTokenPrivileges ||
      !openProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    FreeLibrary(advapi32);
    return false;
  }

  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  lookupPrivilegeValue(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // The call succeeds even when the token lacks the privilege; only the
  // last error (ERROR_NOT_ALL_ASSIGNED) tells.
  adjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  const DWORD error = GetLastError();

  CloseHandle(token);
  FreeLibrary(advapi32);
  return error == 0;
}
