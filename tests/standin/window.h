// Windows, dialogs, timers and the message dispatch of user32 for the
// host stand-in. A window is a record in a table: class, id, text,
// procedure, visibility, rectangle; dialogs come from templates that a
// test declares; timers fire when a test posts their tick.
#ifndef VEXO_STANDIN_WINDOW_H
#define VEXO_STANDIN_WINDOW_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "standin/types.h"
#include "standin/user32.h"

#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_SETREDRAW 0x000B
#define WM_SETTEXT 0x000C
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_SETCURSOR 0x0020
#define WM_SETICON 0x0080
#define WM_KEYDOWN 0x0100
#define WM_SYSKEYDOWN 0x0104
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_USER 0x0400

#define GWL_WNDPROC (-4)
#define GWLP_WNDPROC (-4)
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SPI_GETWORKAREA 0x0030
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define ICON_SMALL 0
#define ICON_BIG 1
#define BN_CLICKED 0
#define HTCLIENT 1
#define SC_CLOSE 0xF060
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_F4 0x73
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

HWND WINAPI CreateDialogParamA(HINSTANCE module, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                               LPARAM initParam);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI IsWindowVisible(HWND window);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
HWND WINAPI GetDlgItem(HWND dialog, int id);
// The 32-bit target's GetWindowLongA/SetWindowLongA; the Ptr names keep
// a procedure address whole on the 64-bit host.
LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index);
LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
BOOL WINAPI SystemParametersInfoA(UINT action, UINT param, PVOID data, UINT winIni);
int WINAPI GetSystemMetrics(int index);
BOOL WINAPI SetForegroundWindow(HWND window);
HWND WINAPI SetFocus(HWND window);
HICON WINAPI LoadIconA(HINSTANCE module, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE module, LPCSTR name);
HCURSOR WINAPI SetCursor(HCURSOR cursor);

namespace standin {

struct ControlTemplate {
  int id;
  std::string className;
  std::string text;  // ANSI
  RECT rect;         // in the dialog's client area, pixels
};

// A dialog resource: the window rectangle it gets on creation (screen
// pixels) and its controls.
struct DialogTemplate {
  RECT rect;
  std::vector<ControlTemplate> controls;
};

struct WindowInfo {
  HWND parent = nullptr;
  int id = 0;
  std::string className;
  std::string text;  // ANSI
  WNDPROC proc = nullptr;
  DLGPROC dialogProc = nullptr;  // dialogs only
  bool visible = false;
  bool minimized = false;
  RECT rect = {};  // screen pixels for top-level windows, parent client pixels for children
  bool needsPaint = false;
  HICON bigIcon = nullptr;
  int rangeLow = 0, rangeHigh = 100, position = 0;  // progress bars
};

struct TimerInfo {
  UINT ms;
  TIMERPROC proc;
};

struct TimerCall {
  bool set;  // SetTimer, else KillTimer
  HWND window;
  UINT_PTR id;
  UINT ms;
  TIMERPROC proc;
};

struct SentMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

struct DialogItemMessage {
  HWND dialog;
  int id;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

struct DialogItemText {
  HWND dialog;
  int id;
  std::string text;  // ANSI
  BOOL result;
};

struct WindowState {
  std::map<HWND, WindowInfo> windows;  // live windows only
  std::map<std::pair<HWND, UINT_PTR>, TimerInfo> timers;
  std::vector<TimerCall> timerCalls;
  std::vector<SentMessage> sent;
  std::vector<DialogItemMessage> dialogItemMessages;
  std::vector<std::pair<HWND, int>> showCalls;
  std::vector<std::pair<HWND, RECT>> moveCalls;  // rect holds x, y, right, bottom
  std::vector<DialogItemText> dialogItemTexts;  // SetDlgItemTextA, as passed

  std::map<WORD, DialogTemplate> dialogs;  // dialog resources by id
  std::map<WORD, HICON> icons;             // icon resources by id
  bool createDialogFails = false;          // the system refuses the dialog
  int nonClientWidth = 6;                  // frame and caption of a dialog
  int nonClientHeight = 28;
  bool getWindowRectFails = false;

  RECT workArea = {0, 0, 1280, 984};
  bool workAreaFails = false;
  int screenWidth = 1280, screenHeight = 1024;

  HWND foreground = nullptr;
  HWND focus = nullptr;
  HCURSOR cursor = nullptr;
  std::vector<HCURSOR> cursorsSet;
};
WindowState& Window();

// The dialog as the installer's resource script declares it: controls
// 112 (the button) and 114 (the progress bar), no others.
void AddProgressDialog(WORD id = 101);
// Puts a WM_TIMER for a live timer in the queue, as the system does when
// it has elapsed; false when no such timer runs.
bool PostTimerTick(HWND window, UINT_PTR id);
bool IsTimerRunning(HWND window, UINT_PTR id);
// Every live window of the given class.
std::vector<HWND> WindowsOfClass(const std::string& className);

}  // namespace standin

#endif
