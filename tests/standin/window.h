// Windows, dialogs, timers and the message dispatch of user32 for the
// host stand-in.
#ifndef VEXO_STANDIN_WINDOW_H
#define VEXO_STANDIN_WINDOW_H

#include "standin/types.h"
#include "standin/user32.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#endif
