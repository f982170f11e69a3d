#include "driver/message_boxes.h"

#include "base/sizes.h"
#include "resource_ids.h"

namespace {

// Loads the string into a cleared buffer, so a missing one shows empty.
void LoadText(HINSTANCE instance, UINT stringId, char (&text)[kTextChars]) {
  for (char& c : text) c = 0;
  LoadStringA(instance, stringId, text, static_cast<int>(kTextChars));
}

// Never inlined, like ShowFormattedErrorMessage: the text buffer stays out
// of the driver's frame, which holds the run's own buffers (the frame
// limit, CMakeLists.txt).
__attribute__((noinline)) void ShowStringBox(HINSTANCE instance, HWND owner, const char* caption, UINT stringId,
                                             UINT icon) {
  char text[kTextChars];
  LoadText(instance, stringId, text);
  MessageBoxA(owner, text, caption, MB_OK | icon);
}

}  // namespace

void ShowCancelledMessage(HINSTANCE instance, HWND owner, const char* caption) {
  ShowStringBox(instance, owner, caption, IDS_CANCELLED, MB_ICONEXCLAMATION);
}

void ShowErrorMessage(HINSTANCE instance, HWND owner, const char* caption, UINT stringId) {
  ShowStringBox(instance, owner, caption, stringId, MB_ICONHAND);
}

void ShowOutOfMemoryMessage(HINSTANCE instance, HWND owner, const char* caption) {
  ShowStringBox(instance, owner, caption, IDS_OUT_OF_MEMORY, MB_ICONHAND);
}

void ShowUsageMessage(HINSTANCE instance, HWND owner, const char* caption) {
  ShowStringBox(instance, owner, caption, IDS_USAGE, MB_ICONASTERISK);
}

__attribute__((noinline)) void ShowFormattedErrorMessage(HINSTANCE instance, HWND owner, const char* caption,
                                                         UINT stringId, const char* insert) {
  char text[kTextChars];
  LoadText(instance, stringId, text);

  // "%1" becomes the insert; the system allocates the result.
  DWORD_PTR arguments[1] = {reinterpret_cast<DWORD_PTR>(insert)};
  char* formatted = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, text,
                 0, 0, reinterpret_cast<LPSTR>(&formatted), 0, reinterpret_cast<va_list*>(arguments));
  if (!formatted) {
    ShowOutOfMemoryMessage(instance, owner, caption);
    return;
  }
  MessageBoxA(owner, formatted, caption, MB_OK | MB_ICONHAND);
  LocalFree(formatted);
}
