// advapi32 for the host stand-in: the SID routines the installer imports,
// and fake run-time entry points (token membership, process token,
// privileges) that a test registers as "advapi32.dll".
#ifndef VEXO_STANDIN_ADVAPI32_H
#define VEXO_STANDIN_ADVAPI32_H

#include <set>
#include <string>
#include <vector>

#include "standin/types.h"

typedef BOOL* PBOOL;
typedef DWORD* PDWORD;

typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

#define SECURITY_NT_AUTHORITY \
  {                           \
    { 0, 0, 0, 0, 0, 5 }      \
  }
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020u
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220u

#define TOKEN_QUERY 0x0008u
#define TOKEN_ADJUST_PRIVILEGES 0x0020u
#define SE_PRIVILEGE_ENABLED 0x00000002u
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"
#define ANYSIZE_ARRAY 1

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES, *PLUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount,
                                     DWORD subAuthority0, DWORD subAuthority1, DWORD subAuthority2,
                                     DWORD subAuthority3, DWORD subAuthority4, DWORD subAuthority5,
                                     DWORD subAuthority6, DWORD subAuthority7, PSID* sid);
PVOID WINAPI FreeSid(PSID sid);

namespace standin {

// A SID as the stand-in allocates it: authority and sub-authorities.
struct Sid {
  BYTE authority[6] = {};
  std::vector<DWORD> subAuthorities;
};

// One AdjustTokenPrivileges call. The privilege name is the one whose LUID
// LookupPrivilegeValueA handed out ("" for a LUID it never gave).
struct PrivilegeAdjustment {
  HANDLE token = nullptr;
  bool disableAll = false;
  DWORD count = 0;
  std::string privilege;
  DWORD attributes = 0;
  bool previousStateAsked = false;
};

struct Advapi32State {
  // Imported SID routines.
  bool allocateSidFails = false;
  int sidsAllocated = 0;
  std::vector<Sid> allocatedSids;

  // CheckTokenMembership: the answer, or a failing call (FALSE, the
  // member flag untouched).
  bool member = true;
  bool checkMembershipFails = false;
  std::vector<Sid> checkedSids;       // the SID of each call, as it was then
  std::vector<HANDLE> checkedTokens;  // the token of each call

  // OpenProcessToken: a "token" handle from the handle table.
  bool openTokenFails = false;
  std::vector<DWORD> openTokenAccess;  // desired access of each call
  std::vector<HANDLE> openTokenProcesses;

  // LookupPrivilegeValueA: the names asked for, in order.
  std::vector<std::string> lookedUpPrivileges;
  std::vector<bool> lookupSystemNameGiven;

  // AdjustTokenPrivileges: the last error a successful call leaves, 0 or
  // ERROR_NOT_ALL_ASSIGNED (the token lacks the privilege).
  DWORD adjustLeavesError = 0;
  bool adjustFails = false;  // the call returns FALSE with ERROR_ACCESS_DENIED
  std::vector<PrivilegeAdjustment> adjustments;
};
Advapi32State& Advapi32();
int OutstandingSids();

// Registers "advapi32.dll" with the fake CheckTokenMembership,
// OpenProcessToken, LookupPrivilegeValueA and AdjustTokenPrivileges, less
// the entry points named in missing.
void RegisterAdvapi32(const std::set<std::string>& missing = {});

}  // namespace standin

#endif
