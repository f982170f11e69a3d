// user32 for the host stand-in: strings, message boxes, character walking
// in code page 936, the message queue and the waits. Windows, dialogs,
// timers and painting live in window.h.
#ifndef VEXO_STANDIN_USER32_H
#define VEXO_STANDIN_USER32_H

#include <deque>
#include <string>
#include <vector>

#include "standin/types.h"

#define MB_OK 0x00000000u
#define MB_YESNO 0x00000004u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7
#define EWX_REBOOT 0x00000002
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF
#define WM_NULL 0x0000
#define WM_QUIT 0x0012
#ifndef SW_SHOW
#define SW_SHOW 5
#endif

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
LPSTR WINAPI CharNextA(LPCSTR p);
LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR p);
BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason);

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg);
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int code);
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD wakeMask);

namespace standin {

struct MessageBoxCall {
  HWND owner;
  std::string text;     // as passed (ANSI bytes)
  std::string caption;  // as passed
  UINT type;
};

struct User32State {
  std::vector<MessageBoxCall> boxes;
  std::deque<int> boxAnswers;  // answers of the next boxes; IDOK (or IDNO) when empty
  std::vector<std::pair<UINT, DWORD>> exitWindowsCalls;

  // The thread's queue. Tests post messages here (or through
  // PostMessageA); the pumps take them out in order.
  std::deque<MSG> queue;
  std::vector<MSG> dispatched;
  std::vector<MSG> translated;
  std::vector<HWND> isDialogMessageWindows;  // the dialog argument of each IsDialogMessageA
  int peekCalls = 0;

  // MsgWaitForMultipleObjects answers, one per call; when the list runs
  // out the wait reports that the object was signalled (0).
  std::deque<DWORD> waitResults;
  DWORD waitError = 0;  // GetLastError after a WAIT_FAILED
  int waitCalls = 0;
  DWORD lastWakeMask = 0;
  DWORD lastWaitMs = 0;
};
User32State& User32();

}  // namespace standin

#endif
