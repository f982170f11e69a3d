#include <cstring>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

Shell32State g_shell32;
void ResetShell32() { g_shell32 = Shell32State(); }
ResetHook shell32Hook(ResetShell32);

// Copies the fields that the flags say are valid into the shown icon.
void Apply(NOTIFYICONDATAA* shown, const NOTIFYICONDATAA& data) {
  if (data.uFlags & NIF_MESSAGE) shown->uCallbackMessage = data.uCallbackMessage;
  if (data.uFlags & NIF_ICON) shown->hIcon = data.hIcon;
  if (data.uFlags & NIF_TIP) memcpy(shown->szTip, data.szTip, sizeof shown->szTip);
  if (data.uFlags & NIF_INFO) {
    memcpy(shown->szInfo, data.szInfo, sizeof shown->szInfo);
    memcpy(shown->szInfoTitle, data.szInfoTitle, sizeof shown->szInfoTitle);
    shown->dwInfoFlags = data.dwInfoFlags;
    shown->uTimeout = data.uTimeout;
  }
}

}  // namespace

Shell32State& Shell32() { return g_shell32; }

}  // namespace standin

using namespace standin;

// The shell identifies an icon by its window and id: an add of a known
// icon fails, and so do a modify or delete of an unknown one.
BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  NotifyIconCall call{message, *data, FALSE};
  auto key = std::make_pair(data->hWnd, data->uID);
  auto shown = g_shell32.icons.find(key);
  BOOL ok = FALSE;
  switch (message) {
    case NIM_ADD:
      ok = data->hWnd != nullptr && shown == g_shell32.icons.end();
      break;
    case NIM_MODIFY:
    case NIM_DELETE:
      ok = shown != g_shell32.icons.end();
      break;
  }
  if (!g_shell32.results.empty()) {
    ok = g_shell32.results.front();
    g_shell32.results.pop_front();
  }
  if (ok && message == NIM_ADD) {
    NOTIFYICONDATAA added{};
    added.hWnd = data->hWnd;
    added.uID = data->uID;
    Apply(&added, *data);
    g_shell32.icons[key] = added;
  } else if (ok && message == NIM_MODIFY && shown != g_shell32.icons.end()) {
    Apply(&shown->second, *data);
  } else if (ok && message == NIM_DELETE && shown != g_shell32.icons.end()) {
    g_shell32.icons.erase(shown);
  }
  call.result = ok;
  g_shell32.calls.push_back(call);
  Record("Shell_NotifyIconA", std::to_string(message));
  return ok;
}
