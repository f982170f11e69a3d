#include <algorithm>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

WindowState g_window;
uintptr_t g_nextWindow = 0x20000;

void ResetWindow() {
  g_window = WindowState();
  g_nextWindow = 0x20000;
}
ResetHook windowHook(ResetWindow);

constexpr DWORD kInvalidWindowHandle = 1400;   // ERROR_INVALID_WINDOW_HANDLE
constexpr DWORD kControlIdNotFound = 1421;     // ERROR_CONTROL_ID_NOT_FOUND
constexpr DWORD kResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND

WindowInfo* Find(HWND window) {
  auto it = g_window.windows.find(window);
  return it == g_window.windows.end() ? nullptr : &it->second;
}

bool IsDescendant(HWND window, HWND ancestor) {
  for (WindowInfo* w = Find(window); w && w->parent; w = Find(w->parent))
    if (w->parent == ancestor) return true;
  return false;
}

bool IsTopLevel(const WindowInfo& w) { return w.className == "#32770"; }

void ClientSize(const WindowInfo& w, LONG* width, LONG* height) {
  *width = w.rect.right - w.rect.left;
  *height = w.rect.bottom - w.rect.top;
  if (IsTopLevel(w)) {
    *width -= g_window.nonClientWidth;
    *height -= g_window.nonClientHeight;
  }
  if (w.minimized) *width = *height = 0;
  *width = std::max<LONG>(*width, 0);
  *height = std::max<LONG>(*height, 0);
}

LPARAM ClientSizeParam(HWND window) {
  LONG w = 0, h = 0;
  ClientSize(*Find(window), &w, &h);
  return MAKELPARAM(w, h);
}

// Drops the queued timer messages of a window (all ids when id is 0).
void DropTimerMessages(HWND window, UINT_PTR id) {
  auto& q = User32().queue;
  q.erase(std::remove_if(q.begin(), q.end(),
                         [&](const MSG& m) {
                           return m.hwnd == window && m.message == WM_TIMER && (id == 0 || m.wParam == id);
                         }),
          q.end());
}

HWND NewWindow(const WindowInfo& info) {
  HWND h = reinterpret_cast<HWND>(g_nextWindow);
  g_nextWindow += 0x10;
  g_window.windows[h] = info;
  return h;
}

// The dialog manager's window procedure: the dialog procedure first;
// what it leaves (result FALSE) gets the dialog defaults.
LRESULT CALLBACK DialogManagerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = Find(window);
  if (w && w->dialogProc) {
    INT_PTR handled = w->dialogProc(window, message, wParam, lParam);
    if (handled) return handled;
  }
  switch (message) {
    case WM_CLOSE:
      // The close box and Alt+F4 become a Cancel command.
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
      return 0;
    case WM_COMMAND:
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Buttons and progress bars.
LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = Find(window);
  if (!w) return 0;
  if (w->className == "msctls_progress32") {
    auto clamp = [w](int pos) { return std::min(std::max(pos, w->rangeLow), w->rangeHigh); };
    int previous = w->position;
    switch (message) {
      case PBM_SETRANGE32: {
        LRESULT old = MAKELONG(w->rangeLow, w->rangeHigh);
        w->rangeLow = static_cast<int>(wParam);
        w->rangeHigh = static_cast<int>(lParam);
        w->position = clamp(w->position);
        return old;
      }
      case PBM_SETPOS:
        w->position = clamp(static_cast<int>(wParam));
        return previous;
      case PBM_DELTAPOS:
        w->position = clamp(w->position + static_cast<int>(wParam));
        return previous;
      case PBM_GETPOS:
        return previous;
    }
  }
  if (w->className == "Button" && message == WM_LBUTTONUP) {
    SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED), reinterpret_cast<LPARAM>(window));
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

WindowState& Window() { return g_window; }

void AddProgressDialog(WORD id) {
  DialogTemplate t;
  t.rect = {262, 281, 262 + 341 + g_window.nonClientWidth, 281 + 241 + g_window.nonClientHeight};
  t.controls.push_back({112, "Button", Ansi("取消"), {245, 206, 332, 232}});
  t.controls.push_back({114, "msctls_progress32", "", {0, 178, 341, 197}});
  g_window.dialogs[id] = t;
}

bool IsTimerRunning(HWND window, UINT_PTR id) { return g_window.timers.count({window, id}) != 0; }

bool PostTimerTick(HWND window, UINT_PTR id) {
  auto it = g_window.timers.find({window, id});
  if (it == g_window.timers.end()) return false;
  MSG m{};
  m.hwnd = window;
  m.message = WM_TIMER;
  m.wParam = id;
  m.lParam = reinterpret_cast<LPARAM>(it->second.proc);
  User32().queue.push_back(m);
  return true;
}

std::vector<HWND> WindowsOfClass(const std::string& className) {
  std::vector<HWND> found;
  for (auto& kv : g_window.windows)
    if (kv.second.className == className) found.push_back(kv.first);
  return found;
}

}  // namespace standin

using namespace standin;

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM initParam) {
  auto t = IS_INTRESOURCE(templateName)
               ? g_window.dialogs.find(static_cast<WORD>(reinterpret_cast<uintptr_t>(templateName)))
               : g_window.dialogs.end();
  if (t == g_window.dialogs.end()) {
    SetLastError(kResourceTypeNotFound);
    return nullptr;
  }
  if (g_window.createDialogFails) {
    SetLastError(kInvalidWindowHandle);
    return nullptr;
  }
  WindowInfo dialog;
  dialog.parent = parent;
  dialog.className = "#32770";
  dialog.proc = DialogManagerProc;
  dialog.dialogProc = dialogProc;
  dialog.rect = t->second.rect;
  HWND h = NewWindow(dialog);
  HWND firstControl = nullptr;
  for (const ControlTemplate& c : t->second.controls) {
    WindowInfo control;
    control.parent = h;
    control.id = c.id;
    control.className = c.className;
    control.text = c.text;
    control.proc = ControlProc;
    control.visible = true;
    control.rect = c.rect;
    HWND ch = NewWindow(control);
    if (!firstControl) firstControl = ch;
  }
  Record("CreateDialogParamA");
  SendMessageA(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstControl), initParam);
  return IsWindow(h) ? h : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window) {
  if (!Find(window)) {
    SetLastError(kInvalidWindowHandle);
    return FALSE;
  }
  SendMessageA(window, WM_DESTROY, 0, 0);
  std::vector<HWND> doomed{window};
  for (auto& kv : g_window.windows)
    if (IsDescendant(kv.first, window)) doomed.push_back(kv.first);
  for (HWND h : doomed) {
    for (auto it = g_window.timers.begin(); it != g_window.timers.end();)
      it = it->first.first == h ? g_window.timers.erase(it) : std::next(it);
    DropTimerMessages(h, 0);
    if (g_window.focus == h) g_window.focus = nullptr;
    if (g_window.foreground == h) g_window.foreground = nullptr;
    g_window.windows.erase(h);
  }
  Record("DestroyWindow");
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return Find(window) != nullptr; }

BOOL WINAPI IsWindowVisible(HWND window) {
  for (WindowInfo* w = Find(window); w; w = Find(w->parent)) {
    if (!w->visible) return FALSE;
    if (!w->parent) break;
  }
  return Find(window) != nullptr;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  WindowInfo* w = Find(window);
  if (!w) {
    SetLastError(kInvalidWindowHandle);
    return FALSE;
  }
  g_window.showCalls.push_back({window, command});
  BOOL wasVisible = w->visible;
  bool show = command != SW_HIDE;
  if (static_cast<bool>(wasVisible) != show) SendMessageA(window, WM_SHOWWINDOW, show, 0);
  w = Find(window);
  if (!w) return wasVisible;
  w->visible = show;
  if (command == SW_MINIMIZE && !w->minimized) {
    w->minimized = true;
    SendMessageA(window, WM_SIZE, SIZE_MINIMIZED, 0);
  } else if (command == SW_RESTORE) {
    g_window.foreground = window;
    if (w->minimized) {
      w->minimized = false;
      SendMessageA(window, WM_SIZE, SIZE_RESTORED, ClientSizeParam(window));
    }
  }
  return wasVisible;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  WindowInfo* w = Find(window);
  if (!w) {
    SetLastError(kInvalidWindowHandle);
    return FALSE;
  }
  w->rect = {x, y, x + width, y + height};
  if (repaint) w->needsPaint = true;
  g_window.moveCalls.push_back({window, w->rect});
  SendMessageA(window, WM_SIZE, SIZE_RESTORED, ClientSizeParam(window));
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
  WindowInfo* w = Find(window);
  if (!w) {
    SetLastError(kInvalidWindowHandle);
    return FALSE;
  }
  rect->left = rect->top = 0;
  ClientSize(*w, &rect->right, &rect->bottom);
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  WindowInfo* w = Find(window);
  if (!w || g_window.getWindowRectFails) {
    SetLastError(kInvalidWindowHandle);
    return FALSE;
  }
  *rect = w->rect;
  return TRUE;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (!Find(window)) {
    SetLastError(kInvalidWindowHandle);
    return FALSE;
  }
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND item = GetDlgItem(dialog, id);
  BOOL ok = item ? SetWindowTextA(item, text) : FALSE;
  g_window.dialogItemTexts.push_back({dialog, id, text ? text : "", ok});
  return ok;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  if (dialog)
    for (auto& kv : g_window.windows)
      if (kv.second.parent == dialog && kv.second.id == id) return kv.first;
  SetLastError(dialog && Find(dialog) ? kControlIdNotFound : kInvalidWindowHandle);
  return nullptr;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
  WindowInfo* w = Find(window);
  if (!w || index != GWLP_WNDPROC) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : kInvalidWindowHandle);
    return 0;
  }
  return reinterpret_cast<LONG_PTR>(w->proc);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  WindowInfo* w = Find(window);
  if (!w || index != GWLP_WNDPROC) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : kInvalidWindowHandle);
    return 0;
  }
  LONG_PTR previous = reinterpret_cast<LONG_PTR>(w->proc);
  w->proc = reinterpret_cast<WNDPROC>(value);
  return previous;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(window, message, wParam, lParam) : 0;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowInfo* w = Find(window);
  if (!w) return 0;
  switch (message) {
    case WM_SETTEXT:
      w->text = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
      return TRUE;
    case WM_SETICON: {
      HICON previous = w->bigIcon;
      if (wParam == ICON_BIG) w->bigIcon = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4) SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window, &client);
      PaintLayer(window, client, "erased", true);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
  }
  return 0;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_window.sent.push_back({window, message, wParam, lParam});
  WindowInfo* w = Find(window);
  if (!w) {
    SetLastError(kInvalidWindowHandle);
    return 0;
  }
  return w->proc ? w->proc(window, message, wParam, lParam) : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  g_window.dialogItemMessages.push_back({dialog, id, message, wParam, lParam});
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessageA(item, message, wParam, lParam) : 0;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
  g_window.timerCalls.push_back({true, window, id, ms, proc});
  if (!Find(window)) {
    SetLastError(kInvalidWindowHandle);
    return 0;
  }
  g_window.timers[{window, id}] = {ms, proc};
  return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  g_window.timerCalls.push_back({false, window, id, 0, nullptr});
  DropTimerMessages(window, id);
  if (g_window.timers.erase({window, id}) == 0) {
    SetLastError(1402);  // ERROR_INVALID_TIMER_ID... as near as it matters
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI SystemParametersInfoA(UINT action, UINT, PVOID data, UINT) {
  if (action != SPI_GETWORKAREA || g_window.workAreaFails || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *static_cast<RECT*>(data) = g_window.workArea;
  return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
  if (index == SM_CXSCREEN) return g_window.screenWidth;
  if (index == SM_CYSCREEN) return g_window.screenHeight;
  return 0;
}

BOOL WINAPI SetForegroundWindow(HWND window) {
  if (!Find(window)) return FALSE;
  g_window.foreground = window;
  return TRUE;
}

HWND WINAPI SetFocus(HWND window) {
  HWND previous = g_window.focus;
  if (window && !Find(window)) {
    SetLastError(kInvalidWindowHandle);
    return nullptr;
  }
  g_window.focus = window;
  return previous;
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR name) {
  if (IS_INTRESOURCE(name)) {
    auto it = g_window.icons.find(static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
    if (it != g_window.icons.end()) return it->second;
  }
  SetLastError(kResourceTypeNotFound);
  return nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE module, LPCSTR name) {
  // Only the system cursors exist.
  if (module || !IS_INTRESOURCE(name)) {
    SetLastError(kResourceTypeNotFound);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(0x70000 + reinterpret_cast<uintptr_t>(name));
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  HCURSOR previous = g_window.cursor;
  g_window.cursor = cursor;
  g_window.cursorsSet.push_back(cursor);
  return previous;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  User32().dispatched.push_back(*msg);
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  WindowInfo* w = Find(msg->hwnd);
  return w && w->proc ? w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

// Takes the messages of the dialog and its controls: Esc becomes the
// Cancel command, everything else is dispatched.
BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
  User32().isDialogMessageWindows.push_back(dialog);
  if (!dialog || !Find(dialog) || !msg || (msg->hwnd != dialog && !IsDescendant(msg->hwnd, dialog))) return FALSE;
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    return TRUE;
  }
  DispatchMessageA(msg);
  return TRUE;
}
