#include "standin/standin.h"
#include "standin/win32.h"

using namespace standin;

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  User32().dispatched.push_back(*msg);
  return 0;
}

BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG) {
  User32().isDialogMessageWindows.push_back(dialog);
  return FALSE;
}
