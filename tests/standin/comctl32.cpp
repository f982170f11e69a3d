#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

Comctl32State g_comctl32;
void ResetComctl32() { g_comctl32 = Comctl32State(); }
ResetHook comctl32Hook(ResetComctl32);

}  // namespace

Comctl32State& Comctl32() { return g_comctl32; }

}  // namespace standin

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  standin::Comctl32().registrations.push_back(*init);
  return init->dwSize == sizeof(INITCOMMONCONTROLSEX);
}
