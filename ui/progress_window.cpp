#include "ui/progress_window.h"

#include <new>  // placement new only

#include "base/heap.h"
#include "base/platform_libraries.h"
#include "base/sizes.h"
#include "resource_ids.h"
#include "ui/slideshow.h"
#include "ui/text_field.h"
#include "ui/tray_icon.h"

ProgressWindow* ProgressWindow::instance_ = nullptr;

ProgressWindow* ProgressWindow::Instance() {
  if (!instance_) {
    void* storage = AllocateBuffer(sizeof(ProgressWindow));
    if (!storage) return nullptr;
    instance_ = new (storage) ProgressWindow();
  }
  return instance_;
}

void ProgressWindow::Release() {
  if (!instance_) return;
  RemoveTrayIcon();
  instance_->~ProgressWindow();
  FreeBuffer(instance_);
  instance_ = nullptr;
}

namespace {

// The window's outer size, whatever the dialog template says.
constexpr int kWindowWidth = 396;
constexpr int kWindowHeight = 297;
// Below the banner: the progress bar, then a strip with the status text
// on the left and the Cancel button on the right.
constexpr int kBarTop = 210;
constexpr int kBarHeight = 23;
constexpr int kStripTop = kBarTop + kBarHeight;  // 233
constexpr int kRowHeight = 24;
constexpr int kButtonWidth = 90;
constexpr int kButtonRightOffset = 95;  // 5 pixels of margin on the right
constexpr int kStatusLeft = 5;
constexpr int kStatusRight = 285;
constexpr LONG kStatusFontHeight = 16;
constexpr UINT kStatusFormat = DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
constexpr size_t kButtonTextChars = 256;
constexpr UINT kTrayClick = WM_LBUTTONDOWN;

// The dialog's own window procedure, called for everything the
// subclass passes on.
WNDPROC g_previousWindowProc = nullptr;

// The status line last shown, until Close; static storage beside the
// instance, as the slide table is.
char g_statusLine[kTextChars];

LRESULT PassOn(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!g_previousWindowProc) return DefWindowProcA(window, message, wParam, lParam);
  return CallWindowProcA(g_previousWindowProc, window, message, wParam, lParam);
}

void LoadSlides(HINSTANCE module) {
  // Once per process: a later window reuses what is already decoded.
  for (int i = 0; i < kSlideCount; ++i)
    if (!g_slides[i].present)
      g_slides[i].present =
          LoadImageResource(module, static_cast<WORD>(kFirstSlideId + i), kSlideType, &g_slides[i].image);
}

}  // namespace

bool ProgressWindow::Create(HINSTANCE module, HWND parent, const char* title) {
  INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  if (const ComCtlEntries* comctl = ComCtl()) comctl->InitCommonControlsEx(&controls);
  parent_ = parent;
  module_ = module;
  CopyToField(title_, title);

  if (!dialog_) {
    dialog_ = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_PROGRESS), parent, ProgressDialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (!dialog_) return false;

    ZeroTrayIcon();
    AddTrayIcon(dialog_, module, title_);
    SetWindowTextA(dialog_, title_);

    // A window whose rectangle can't be read stays where and as large as
    // the template made it; the controls follow its client area.
    int x = 0, y = 0, width = 0, height = 0;
    if (CenterInWorkArea(dialog_, &x, &y, &width, &height)) MoveWindow(dialog_, x, y, width, height, TRUE);
    RECT client = {0, 0, 0, 0};
    GetClientRect(dialog_, &client);
    const int clientWidth = client.right - client.left;
    const int clientHeight = client.bottom;

    LoadSlides(module);

    char buttonText[kButtonTextChars] = {};
    LoadStringA(module, IDS_CANCEL, buttonText, static_cast<int>(sizeof buttonText));
    SetDlgItemTextA(dialog_, IDC_CANCEL_BUTTON, buttonText);

    SetForegroundWindow(dialog_);
    HWND bar = GetDlgItem(dialog_, IDC_PROGRESS_BAR);
    MoveWindow(bar, 0, kBarTop, clientWidth, kBarHeight, TRUE);
    SetFocus(bar);
    ShowWindow(bar, SW_SHOW);

    const int rowTop = kStripTop + (clientHeight - (kStripTop + kRowHeight)) / 2;
    HWND button = GetDlgItem(dialog_, IDC_CANCEL_BUTTON);
    MoveWindow(button, clientWidth - kButtonRightOffset, rowTop, kButtonWidth, kRowHeight, TRUE);
    ShowWindow(button, SW_SHOW);
    statusRect_ = {kStatusLeft, rowTop, kStatusRight, rowTop + kRowHeight};

    HICON icon = LoadIconA(module, MAKEINTRESOURCEA(IDI_SETUP));
    if (icon) SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ShowWindow(dialog_, SW_SHOW);
  }

  PumpPendingMessages();
  created_ = true;
  return true;
}

bool ProgressWindow::Close() {
  RemoveTrayIcon();
  if (dialog_) {
    DestroyWindow(dialog_);
    dialog_ = nullptr;
  }
  module_ = nullptr;
  parent_ = nullptr;
  created_ = false;
  cancelled_ = false;
  range_ = 0;
  g_statusLine[0] = '\0';
  return true;
}

HWND ProgressWindow::GetWindow() const { return dialog_ ? dialog_ : parent_; }

void ProgressWindow::Cancel() { cancelled_ = true; }

bool ProgressWindow::IsCancelled() const { return cancelled_; }

namespace {

// The status line in its font, over what dc already holds in rect.
void DrawStatusLine(HDC dc, RECT rect, const char* text) {
  LOGFONTA logFont = {};
  logFont.lfHeight = kStatusFontHeight;
  HFONT font = CreateFontIndirectA(&logFont);
  HGDIOBJ previousFont = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, text, lstrlenA(text), &rect, kStatusFormat);
  if (previousFont) SelectObject(dc, previousFont);
  if (font) DeleteObject(font);
}

}  // namespace

int ProgressWindow::ShowStatus(const char* text) {
  if (!created_) return -1;
  if (cancelled_) return 1;
  if (!IsWindow(dialog_)) return 0;
  // Every slide paint fills the whole client area: it draws the line again.
  CopyToField(g_statusLine, text);

  HDC dc = GetDC(dialog_);
  if (!dc) return 0;
  HBRUSH background = CreateSolidBrush(kBackgroundColour);
  if (background) FillRect(dc, &statusRect_, background);
  DrawStatusLine(dc, statusRect_, g_statusLine);

  SendMessageA(dialog_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(dialog_, &statusRect_, FALSE);
  UpdateWindow(dialog_);

  if (background) DeleteObject(background);
  ReleaseDC(dialog_, dc);
  return 0;
}

void ProgressWindow::DrawKeptStatus(HWND window, HDC dc) {
  const ProgressWindow* owner = instance_;
  if (owner && owner->dialog_ == window && g_statusLine[0]) DrawStatusLine(dc, owner->statusRect_, g_statusLine);
}

int ProgressWindow::SetStatusText(const char* text) {
  if (!created_) return -1;
  if (cancelled_) return 1;
  // The template has no such item: the text is shown nowhere.
  SetDlgItemTextA(dialog_, IDC_STATUS_TEXT, text);
  return 0;
}

void ProgressWindow::SetRange(int range) {
  range_ = range;
  SendDlgItemMessageA(dialog_, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, range);
  SendDlgItemMessageA(dialog_, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
  PumpPendingMessages();
}

void ProgressWindow::Step(int delta) {
  SendDlgItemMessageA(dialog_, IDC_PROGRESS_BAR, PBM_DELTAPOS, static_cast<WPARAM>(delta), 0);
  PumpPendingMessages();
}

// Delivers what is waiting in the queue and returns as soon as it is
// empty; the dialog gets the first look, so Esc and Tab work in it.
void ProgressWindow::PumpPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (IsDialogMessageA(dialog_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetTimer(dialog, kFirstSlideTimer, kOneShotMs, SlideTimerProc);
    SubclassProgressWindow(dialog);
  }
  // FALSE throughout: the dialog manager keeps its default handling and
  // sets no focus of its own.
  return FALSE;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDC_CANCEL_BUTTON) break;
      // Only a click on the button itself cancels; an accelerator or a
      // menu sends no control window.
      if (IsWindow(reinterpret_cast<HWND>(lParam)) && ProgressWindow::instance_) ProgressWindow::instance_->Cancel();
      return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == GetDlgItem(window, IDC_CANCEL_BUTTON)) break;
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      return 0;
    case WM_CLOSE:
      // The close box and Alt+F4 only stop the rotation; the dialog
      // manager turns them into a Cancel command that nothing acts on.
      KillTimer(window, kRotationTimer);
      break;
    case WM_ERASEBKGND:
      return 0;
    case WM_SIZE:
      if (IsWindowVisible(window)) SetTimer(window, kRepaintTimer, kOneShotMs, SlideTimerProc);
      break;
    case WM_PAINT: {
      // The banner and the status line are drawn outside WM_PAINT.
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case kTrayCallbackMessage:
      if (lParam == kTrayClick && IsWindow(window)) ShowWindow(window, SW_RESTORE);
      break;
  }
  return PassOn(window, message, wParam, lParam);
}

// GetWindowLongPtrA and SetWindowLongPtrA are GetWindowLongA and
// SetWindowLongA on the 32-bit target.
void SubclassProgressWindow(HWND dialog) {
  g_previousWindowProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(dialog, GWLP_WNDPROC));
  SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressWindowProc));
}

bool CenterInWorkArea(HWND window, int* x, int* y, int* width, int* height) {
  RECT ignored;
  if (!GetWindowRect(window, &ignored)) return false;
  RECT work;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  *x = work.left + (work.right - work.left - kWindowWidth) / 2;
  *y = work.top + (work.bottom - work.top - kWindowHeight) / 2;
  *width = kWindowWidth;
  *height = kWindowHeight;
  return true;
}
