#include "ui/progress_window.h"

#include <new>

#include "driver/heap.h"
#include "resource_ids.h"
#include "ui/text_field.h"
#include "ui/tray_icon.h"

ProgressWindow* ProgressWindow::instance_ = nullptr;

ProgressWindow* ProgressWindow::Instance() {
  if (!instance_) {
    void* storage = AllocateBuffer(sizeof(ProgressWindow));
    if (!storage) throw std::bad_alloc();
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

bool ProgressWindow::Create(HINSTANCE module, HWND parent, const char* title) {
  parent_ = parent;
  module_ = module;
  CopyToField(title_, title);
  return false;
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
  return true;
}

HWND ProgressWindow::GetWindow() const { return dialog_ ? dialog_ : parent_; }

void ProgressWindow::Cancel() { cancelled_ = true; }

bool ProgressWindow::IsCancelled() const { return cancelled_; }

int ProgressWindow::ShowStatus(const char* text) {
  if (!created_) return -1;
  if (cancelled_) return 1;
  if (!IsWindow(dialog_)) return 0;
  (void)text;
  return 0;
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
