#include "ui/tray_icon.h"

#include <string.h>

#include "base/platform_libraries.h"
#include "resource_ids.h"
#include "ui/text_field.h"

static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAA) == kTrayRecordBytes,
              "the record is the full form the shell expects");

NOTIFYICONDATAA g_trayIcon;

namespace {

// Without the shell library there is no notification area to talk to.
BOOL NotifyShell(DWORD message) {
  const ShellEntries* shell = Shell();
  return shell && shell->Shell_NotifyIconA(message, &g_trayIcon);
}

}  // namespace

void ZeroTrayIcon() { memset(&g_trayIcon, 0, sizeof g_trayIcon); }

bool AddTrayIcon(HWND window, HINSTANCE module, const char* tip) {
  g_trayIcon.cbSize = kTrayRecordBytes;
  g_trayIcon.hWnd = window;
  g_trayIcon.uID = kTrayIconId;
  g_trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  g_trayIcon.uCallbackMessage = kTrayCallbackMessage;
  g_trayIcon.hIcon = LoadIconA(module, MAKEINTRESOURCEA(IDI_SETUP));
  CopyToField(g_trayIcon.szTip, tip);
  return NotifyShell(NIM_ADD) != FALSE;
}

BOOL ShowTrayBalloon(const char* text, const char* title, DWORD infoFlags, UINT timeoutMs) {
  g_trayIcon.cbSize = kTrayRecordBytes;
  g_trayIcon.uFlags = NIF_INFO;
  g_trayIcon.uTimeout = timeoutMs;
  g_trayIcon.dwInfoFlags = infoFlags;
  CopyToField(g_trayIcon.szInfo, text);
  CopyToField(g_trayIcon.szInfoTitle, title);
  return NotifyShell(NIM_MODIFY);
}

void RemoveTrayIcon() {
  // A record that was never added names no icon (window 0): the shell
  // could only refuse it, so it is not asked. This keeps the silent modes,
  // where the controller is still released, off the notification area.
  if (!g_trayIcon.hWnd) return;
  NotifyShell(NIM_DELETE);
}
