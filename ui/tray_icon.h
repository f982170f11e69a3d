// The notification-area icon that stands for the progress window.
#ifndef VEXO_UI_TRAY_ICON_H
#define VEXO_UI_TRAY_ICON_H

#include "driver/platform.h"

constexpr UINT kTrayIconId = 128;
constexpr UINT kTrayCallbackMessage = 0x0400 + 100;  // WM_USER + 100

// The one record shared by the driver and the progress window.
extern NOTIFYICONDATAA g_trayIcon;

void ZeroTrayIcon();
bool AddTrayIcon(HWND window, HINSTANCE module, const char* tip);
BOOL ShowTrayBalloon(const char* text, const char* title, DWORD infoFlags, UINT timeoutMs);
void RemoveTrayIcon();

#endif
