// The installer's message boxes. Each is modal with one OK button; the
// caption is the caller's (the caption buffer), the owner the caller's.
#ifndef VEXO_DRIVER_MESSAGE_BOXES_H
#define VEXO_DRIVER_MESSAGE_BOXES_H

#include "base/platform.h"

void ShowCancelledMessage(HINSTANCE instance, HWND owner, const char* caption);
void ShowErrorMessage(HINSTANCE instance, HWND owner, const char* caption, UINT stringId);
// The string's "%1" is replaced by insert; without memory for the result
// the out-of-memory box is shown instead.
void ShowFormattedErrorMessage(HINSTANCE instance, HWND owner, const char* caption, UINT stringId,
                               const char* insert);
void ShowOutOfMemoryMessage(HINSTANCE instance, HWND owner, const char* caption);
void ShowUsageMessage(HINSTANCE instance, HWND owner, const char* caption);

#endif
