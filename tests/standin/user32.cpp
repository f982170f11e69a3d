#include <cstring>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

User32State g_user32;
void ResetUser32() { g_user32 = User32State(); }
ResetHook user32Hook(ResetUser32);

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace

User32State& User32() { return g_user32; }

}  // namespace standin

using namespace standin;

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  auto it = Kernel32().strings.find(id);
  if (it == Kernel32().strings.end()) {
    buffer[0] = 0;
    SetLastError(1814);
    return 0;
  }
  std::string ansi = Ansi(it->second);
  // Windows cuts a long string to size - 1 bytes; keep a double-byte
  // character whole.
  size_t n = 0;
  while (n < ansi.size()) {
    size_t step = IsLeadByte(static_cast<unsigned char>(ansi[n])) && n + 1 < ansi.size() ? 2 : 1;
    if (n + step > static_cast<size_t>(size - 1)) break;
    n += step;
  }
  memcpy(buffer, ansi.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  g_user32.boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  Record("MessageBoxA", text ? Utf8(text) : std::string());
  if (!g_user32.boxAnswers.empty()) {
    int answer = g_user32.boxAnswers.front();
    g_user32.boxAnswers.pop_front();
    return answer;
  }
  return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
}

LPSTR WINAPI CharNextA(LPCSTR p) {
  if (!*p) return const_cast<LPSTR>(p);
  if (IsLeadByte(static_cast<unsigned char>(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
  return const_cast<LPSTR>(p + 1);
}

LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR p) {
  // Walk forward from the start, as the system does for a double-byte
  // code page: the previous character is the last whole one before p.
  if (p <= start) return const_cast<LPSTR>(start);
  LPCSTR prev = start;
  for (LPCSTR q = start; q < p;) {
    prev = q;
    LPCSTR next = CharNextA(q);
    if (next == q) break;
    q = next;
  }
  return const_cast<LPSTR>(prev);
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
  g_user32.exitWindowsCalls.push_back({flags, reason});
  Record("ExitWindowsEx");
  return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT remove) {
  ++g_user32.peekCalls;
  if (g_user32.queue.empty()) return FALSE;
  *msg = g_user32.queue.front();
  if (remove & PM_REMOVE) g_user32.queue.pop_front();
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  g_user32.translated.push_back(*msg);
  return FALSE;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = window;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  g_user32.queue.push_back(m);
  return TRUE;
}

void WINAPI PostQuitMessage(int code) { PostMessageA(nullptr, WM_QUIT, static_cast<WPARAM>(code), 0); }

DWORD WINAPI MsgWaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD ms, DWORD wakeMask) {
  ++g_user32.waitCalls;
  g_user32.lastWakeMask = wakeMask;
  g_user32.lastWaitMs = ms;
  if (g_user32.waitResults.empty()) return WAIT_OBJECT_0;
  DWORD r = g_user32.waitResults.front();
  g_user32.waitResults.pop_front();
  if (r == WAIT_FAILED) SetLastError(g_user32.waitError);
  return r;
}
