#include <cstring>
#include <map>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

Advapi32State g_advapi32;
std::set<Sid*> g_liveSids;
// LUIDs handed out by LookupPrivilegeValueA, by name; the shutdown
// privilege has its real value.
std::map<std::string, DWORD> g_luids;

void ResetAdvapi32() {
  g_advapi32 = Advapi32State();
  for (Sid* sid : g_liveSids) delete sid;
  g_liveSids.clear();
  g_luids = {{"SeShutdownPrivilege", 19}};
}
ResetHook advapi32Hook(ResetAdvapi32);

Sid* LiveSid(PSID sid) {
  auto it = g_liveSids.find(static_cast<Sid*>(sid));
  return it == g_liveSids.end() ? nullptr : *it;
}

BOOL WINAPI FakeCheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
  Sid* s = LiveSid(sid);
  if (!s || !isMember) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  g_advapi32.checkedSids.push_back(*s);
  g_advapi32.checkedTokens.push_back(token);
  if (g_advapi32.checkMembershipFails) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *isMember = g_advapi32.member ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI FakeOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  g_advapi32.openTokenAccess.push_back(access);
  g_advapi32.openTokenProcesses.push_back(process);
  if (g_advapi32.openTokenFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *token = NewHandle("token");
  return TRUE;
}

BOOL WINAPI FakeLookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
  std::string n = name ? name : "";
  g_advapi32.lookedUpPrivileges.push_back(n);
  g_advapi32.lookupSystemNameGiven.push_back(systemName != nullptr);
  auto it = g_luids.find(n);
  if (it == g_luids.end()) it = g_luids.insert({n, static_cast<DWORD>(1000 + g_luids.size())}).first;
  luid->LowPart = it->second;
  luid->HighPart = 0;
  return TRUE;
}

BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD,
                                      PTOKEN_PRIVILEGES previousState, PDWORD) {
  if (HandleKind(token) != "token") {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  PrivilegeAdjustment a;
  a.token = token;
  a.disableAll = disableAll != 0;
  a.previousStateAsked = previousState != nullptr;
  if (newState) {
    a.count = newState->PrivilegeCount;
    a.attributes = newState->Privileges[0].Attributes;
    for (auto& kv : g_luids)
      if (kv.second == newState->Privileges[0].Luid.LowPart && newState->Privileges[0].Luid.HighPart == 0)
        a.privilege = kv.first;
  }
  g_advapi32.adjustments.push_back(a);
  if (g_advapi32.adjustFails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // The real call sets the last error on success too.
  SetLastError(g_advapi32.adjustLeavesError);
  return TRUE;
}

}  // namespace

Advapi32State& Advapi32() { return g_advapi32; }
int OutstandingSids() { return static_cast<int>(g_liveSids.size()); }

void RegisterAdvapi32(const std::set<std::string>& missing) {
  // Through void (*)() so the cast to FARPROC carries no type warning.
  auto proc = [](auto fn) { return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn)); };
  Library lib;
  lib.procs["CheckTokenMembership"] = proc(&FakeCheckTokenMembership);
  lib.procs["OpenProcessToken"] = proc(&FakeOpenProcessToken);
  lib.procs["LookupPrivilegeValueA"] = proc(&FakeLookupPrivilegeValueA);
  lib.procs["AdjustTokenPrivileges"] = proc(&FakeAdjustTokenPrivileges);
  for (const std::string& name : missing) lib.procs.erase(name);
  RegisterLibrary("advapi32.dll", lib);
}

}  // namespace standin

using namespace standin;

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount, DWORD s0,
                                     DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7,
                                     PSID* sid) {
  if (!authority || !sid || subAuthorityCount == 0 || subAuthorityCount > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (g_advapi32.allocateSidFails) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  const DWORD all[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  Sid* s = new Sid;
  memcpy(s->authority, authority->Value, sizeof s->authority);
  s->subAuthorities.assign(all, all + subAuthorityCount);
  g_liveSids.insert(s);
  ++g_advapi32.sidsAllocated;
  g_advapi32.allocatedSids.push_back(*s);
  *sid = s;
  return TRUE;
}

PVOID WINAPI FreeSid(PSID sid) {
  Sid* s = LiveSid(sid);
  if (!s) return sid;  // not ours: the real call hands it back
  g_liveSids.erase(s);
  delete s;
  return nullptr;
}
