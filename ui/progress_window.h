// The progress window of the interactive modes and its controller, a
// process-wide singleton that exists in every mode.
#ifndef VEXO_UI_PROGRESS_WINDOW_H
#define VEXO_UI_PROGRESS_WINDOW_H

#include "base/platform.h"

class ProgressWindow {
 public:
  static constexpr size_t kTitleChars = 256;

  // The instance, created on first use; null when there is no memory
  // for it.
  static ProgressWindow* Instance();
  // Removes the tray icon and destroys the instance (not the window).
  static void Release();

  // Creates, lays out and shows the window, then pumps. False only when
  // the dialog can't be created; a second call creates nothing new. A
  // title longer than 255 bytes is cut by whole characters.
  bool Create(HINSTANCE module, HWND parent, const char* title);
  // Removes the tray icon and the window; always true.
  bool Close();
  HWND GetWindow() const;
  void Cancel();
  bool IsCancelled() const;
  // -1: no window; 1: cancelled, nothing drawn; 0: otherwise. The window
  // keeps the text it drew, for the slide paints to draw it again.
  int ShowStatus(const char* text);
  int SetStatusText(const char* text);
  void SetRange(int range);
  void Step(int delta);
  // Delivers what is waiting in the thread's queue, the dialog first.
  void PumpPendingMessages();

  HINSTANCE Module() const { return module_; }
  // Draws the status line last shown into dc, a picture of window's
  // client area; nothing when window is not this one's or no line was shown.
  static void DrawKeptStatus(HWND window, HDC dc);

 private:
  friend INT_PTR CALLBACK ProgressDialogProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK ProgressWindowProc(HWND, UINT, WPARAM, LPARAM);
  friend struct ProgressWindowTestAccess;

  ProgressWindow() = default;

  HINSTANCE module_ = nullptr;
  HWND dialog_ = nullptr;
  HWND parent_ = nullptr;
  char title_[kTitleChars] = {};
  bool created_ = false;
  bool cancelled_ = false;
  int range_ = 0;
  RECT statusRect_ = {};

  static ProgressWindow* instance_;
};

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SubclassProgressWindow(HWND dialog);
// The window's place: 396 x 297 pixels centred in the work area. False,
// with nothing written, when the window's rectangle can't be read.
bool CenterInWorkArea(HWND window, int* x, int* y, int* width, int* height);

#endif
