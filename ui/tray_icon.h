// The notification-area icon that stands for the progress window.
#ifndef VEXO_UI_TRAY_ICON_H
#define VEXO_UI_TRAY_ICON_H

#include "base/platform.h"

constexpr UINT kTrayIconId = 128;
constexpr UINT kTrayCallbackMessage = 0x0400 + 100;  // WM_USER + 100
// The full form of the record on 32-bit Windows, balloon icon included.
constexpr DWORD kTrayRecordBytes = 508;

// The one record shared by the driver and the progress window.
extern NOTIFYICONDATAA g_trayIcon;

// Zero-fills the whole record.
void ZeroTrayIcon();
// Adds the icon for window: icon 107 of module, tip cut to the tip field.
bool AddTrayIcon(HWND window, HINSTANCE module, const char* tip);
// A balloon on the icon; null texts are empty, long ones cut to fit.
BOOL ShowTrayBalloon(const char* text, const char* title, DWORD infoFlags, UINT timeoutMs);
// Deletes the icon; harmless when it is already gone, and no call at all
// while the record was never added.
void RemoveTrayIcon();

#endif
