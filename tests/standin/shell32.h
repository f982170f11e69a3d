// shell32 for the host stand-in: the notification-area icon.
#ifndef VEXO_STANDIN_SHELL32_H
#define VEXO_STANDIN_SHELL32_H

#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "standin/types.h"

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
#define NIF_STATE 0x00000008
#define NIF_INFO 0x00000010
#define NIIF_NONE 0x00000000
#define NIIF_INFO 0x00000001
#define NIIF_WARNING 0x00000002
#define NIIF_ERROR 0x00000003

// The full form of the record, field for field as in the SDK.
typedef struct _NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  CHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  CHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  HICON hBalloonIcon;
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);

namespace standin {

struct NotifyIconCall {
  DWORD message;
  NOTIFYICONDATAA record;  // a copy, as passed
  BOOL result;
};

struct Shell32State {
  std::vector<NotifyIconCall> calls;
  // Icons in the notification area, by window and id.
  std::map<std::pair<HWND, UINT>, NOTIFYICONDATAA> icons;
  // Forced results of the next calls; when empty the shell decides.
  std::deque<BOOL> results;
};
Shell32State& Shell32();

}  // namespace standin

#endif
