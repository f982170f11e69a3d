#include <gtest/gtest.h>

#include <new>
#include <string>

#include "standin/standin.h"
#include "ui/progress_window.h"
#include "ui/tray_icon.h"
#include "unit/ui_test_support.h"

struct ProgressWindowTestAccess {
  static const char* Title(const ProgressWindow* w) { return w->title_; }
  static RECT StatusRect(const ProgressWindow* w) { return w->statusRect_; }
};

namespace {

using uitest::kModule;
const HWND kParent = reinterpret_cast<HWND>(0x9990);

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ZeroTrayIcon();
  }
  void TearDown() override { ProgressWindow::Release(); }
};

TEST_F(ProgressWindowTest, InstanceIsOneObjectUntilReleased) {
  ProgressWindow* w = ProgressWindow::Instance();
  EXPECT_EQ(ProgressWindow::Instance(), w);
  EXPECT_EQ(w->GetWindow(), nullptr);
  EXPECT_EQ(w->Module(), nullptr);
  EXPECT_FALSE(w->IsCancelled());
  EXPECT_EQ(standin::OutstandingAllocations(), 1);
  ProgressWindow::Release();
  EXPECT_EQ(standin::OutstandingAllocations(), 0);
  ProgressWindow::Release();  // nothing left to release
  EXPECT_FALSE(ProgressWindow::Instance()->IsCancelled());
}

TEST_F(ProgressWindowTest, InstanceOutOfMemoryThrowsAndLeavesNoInstance) {
  standin::Heap().failAll = true;
  EXPECT_THROW(ProgressWindow::Instance(), std::bad_alloc);
  standin::Heap().failAll = false;
  EXPECT_EQ(standin::OutstandingAllocations(), 0);
  EXPECT_NE(ProgressWindow::Instance(), nullptr);
}

TEST_F(ProgressWindowTest, ReleaseWithoutAWindowLeavesTheTrayAlone) {
  ProgressWindow::Instance()->Create(kModule, nullptr, "t");
  ProgressWindow::Release();
  EXPECT_TRUE(standin::Shell32().calls.empty());
}

TEST_F(ProgressWindowTest, FailedCreateStoresItsArgumentsAndStaysIdle) {
  ProgressWindow* w = ProgressWindow::Instance();
  std::string title = standin::Ansi("Vexo影音在线安装");
  EXPECT_FALSE(w->Create(kModule, kParent, title.c_str()));
  EXPECT_EQ(w->Module(), kModule);
  EXPECT_EQ(w->GetWindow(), kParent);
  EXPECT_EQ(std::string(ProgressWindowTestAccess::Title(w)), title);
  EXPECT_TRUE(standin::Shell32().calls.empty());
  EXPECT_FALSE(ShowTrayBalloon("text", "title", 1, 1000));  // no icon to show it on
}

TEST_F(ProgressWindowTest, LongTitleIsCutAndTerminated) {
  ProgressWindow* w = ProgressWindow::Instance();
  std::string title(300, 'x');
  w->Create(kModule, nullptr, title.c_str());
  EXPECT_EQ(std::string(ProgressWindowTestAccess::Title(w)), std::string(255, 'x'));
}

TEST_F(ProgressWindowTest, StatusWithoutAWindowAnswersMinusOne) {
  struct Case {
    const char* name;
    void (*prepare)(ProgressWindow*);
  } cases[] = {
      {"before Create", [](ProgressWindow*) {}},
      {"after a failed Create", [](ProgressWindow* w) { w->Create(kModule, kParent, "t"); }},
      {"cancelled without a window", [](ProgressWindow* w) { w->Cancel(); }},
      {"after Close", [](ProgressWindow* w) {
         w->Create(kModule, kParent, "t");
         w->Close();
       }},
  };
  for (const Case& c : cases) {
    ProgressWindow::Release();
    standin::Reset();
    ProgressWindow* w = ProgressWindow::Instance();
    c.prepare(w);
    EXPECT_EQ(w->ShowStatus("status"), -1) << c.name;
    EXPECT_EQ(w->SetStatusText("status"), -1) << c.name;
    EXPECT_TRUE(standin::Window().dialogItemTexts.empty()) << c.name;
    EXPECT_EQ(standin::Gdi().texts.size(), 0u) << c.name;
  }
}

TEST_F(ProgressWindowTest, CancelStaysUntilClose) {
  ProgressWindow* w = ProgressWindow::Instance();
  w->Cancel();
  EXPECT_TRUE(w->IsCancelled());
  w->SetRange(10);
  w->Step(5);
  EXPECT_TRUE(w->IsCancelled());
  w->Close();
  EXPECT_FALSE(w->IsCancelled());
  EXPECT_EQ(w->GetWindow(), nullptr);
  EXPECT_EQ(w->Module(), nullptr);
}

TEST_F(ProgressWindowTest, RangeAndStepGoToTheBarThenDrainTheQueue) {
  ProgressWindow* w = ProgressWindow::Instance();
  HWND other = reinterpret_cast<HWND>(0x4444);
  PostMessageA(other, WM_USER + 1, 0, 0);
  PostMessageA(other, WM_USER + 2, 0, 0);
  w->SetRange(1000);
  EXPECT_TRUE(standin::User32().queue.empty());
  ASSERT_EQ(standin::User32().dispatched.size(), 2u);
  EXPECT_EQ(standin::User32().translated.size(), 2u);
  ASSERT_EQ(standin::User32().isDialogMessageWindows.size(), 2u);
  EXPECT_EQ(standin::User32().isDialogMessageWindows[0], nullptr);

  PostMessageA(other, WM_USER + 3, 0, 0);
  w->Step(-7);
  EXPECT_EQ(standin::User32().dispatched.size(), 3u);

  const auto& sent = standin::Window().dialogItemMessages;
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].id, 114);
  EXPECT_EQ(sent[0].message, static_cast<UINT>(PBM_SETRANGE32));
  EXPECT_EQ(sent[0].wParam, 0u);
  EXPECT_EQ(sent[0].lParam, 1000);
  EXPECT_EQ(sent[1].message, static_cast<UINT>(PBM_SETPOS));
  EXPECT_EQ(sent[1].wParam, 0u);
  EXPECT_EQ(sent[2].message, static_cast<UINT>(PBM_DELTAPOS));
  EXPECT_EQ(static_cast<int>(sent[2].wParam), -7);
}

}  // namespace

namespace {

using uitest::kIcon;

class ProgressWindowShownTest : public uitest::WindowTest {};

TEST_F(ProgressWindowShownTest, LayoutFollowsTheWorkAreaAndTheClientHeight) {
  struct Case {
    const char* name;
    RECT workArea;
    bool workAreaFails;
    int nonClientHeight;
    int x, y, rowTop;
  } cases[] = {
      {"work area 1280 wide from x 0", {0, 0, 1280, 984}, false, 28, 442, 343, 239},
      {"work area beside a taskbar on the left", {60, 0, 1280, 1024}, false, 28, 472, 363, 239},
      {"work area unreadable: the whole screen", {0, 0, 0, 0}, true, 28, 314, 235, 239},
      {"work area smaller than the window", {0, 0, 300, 200}, false, 28, -48, -48, 239},
      {"client area 256 high", {0, 0, 1280, 984}, false, 41, 442, 343, 233},
  };
  for (const Case& c : cases) {
    SetUp();
    standin::Window().workArea = c.workArea;
    standin::Window().workAreaFails = c.workAreaFails;
    standin::Window().screenWidth = 1024;
    standin::Window().screenHeight = 768;
    standin::Window().nonClientHeight = c.nonClientHeight;
    CreateWindow();
    RECT r;
    ASSERT_TRUE(GetWindowRect(dialog_, &r)) << c.name;
    EXPECT_EQ(r.left, c.x) << c.name;
    EXPECT_EQ(r.top, c.y) << c.name;
    EXPECT_EQ(r.right - r.left, 396) << c.name;
    EXPECT_EQ(r.bottom - r.top, 297) << c.name;
    RECT client;
    GetClientRect(dialog_, &client);
    const LONG w = client.right;
    HWND bar = GetDlgItem(dialog_, 114), button = GetDlgItem(dialog_, 112);
    GetWindowRect(bar, &r);
    EXPECT_EQ(r.left, 0) << c.name;
    EXPECT_EQ(r.top, 210) << c.name;
    EXPECT_EQ(r.right, w) << c.name;
    EXPECT_EQ(r.bottom, 233) << c.name;
    GetWindowRect(button, &r);
    EXPECT_EQ(r.left, w - 95) << c.name;
    EXPECT_EQ(r.top, c.rowTop) << c.name;
    EXPECT_EQ(r.right - r.left, 90) << c.name;
    EXPECT_EQ(r.bottom - r.top, 24) << c.name;
    RECT status = ProgressWindowTestAccess::StatusRect(ProgressWindow::Instance());
    EXPECT_EQ(status.left, 5) << c.name;
    EXPECT_EQ(status.top, c.rowTop) << c.name;
    EXPECT_EQ(status.right, 285) << c.name;
    EXPECT_EQ(status.bottom, c.rowTop + 24) << c.name;
    TearDown();
  }
}

TEST_F(ProgressWindowShownTest, UnreadableWindowRectangleKeepsTheTemplateGeometry) {
  standin::Window().getWindowRectFails = true;
  int x = 1, y = 2, width = 3, height = 4;
  CreateWindow();
  EXPECT_FALSE(CenterInWorkArea(dialog_, &x, &y, &width, &height));
  EXPECT_EQ(x, 1);
  EXPECT_EQ(height, 4);
  for (const auto& move : standin::Window().moveCalls) EXPECT_NE(move.first, dialog_);
  EXPECT_TRUE(IsWindowVisible(dialog_));
}

TEST_F(ProgressWindowShownTest, CreateShowsTheWindowWithItsIconTextsAndTimer) {
  ProgressWindow* w = CreateWindow();
  ASSERT_NE(dialog_, nullptr);
  const standin::WindowInfo& info = standin::Window().windows[dialog_];
  EXPECT_EQ(info.text, title_);
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_EQ(info.bigIcon, kIcon);
  EXPECT_EQ(standin::Utf8(standin::Window().windows[GetDlgItem(dialog_, 112)].text), "取消");
  EXPECT_EQ(standin::Window().foreground, dialog_);
  EXPECT_EQ(standin::Window().focus, GetDlgItem(dialog_, 114));
  ASSERT_EQ(standin::Comctl32().registrations.size(), 1u);
  EXPECT_EQ(standin::Comctl32().registrations[0].dwSize, 8u);
  EXPECT_EQ(standin::Comctl32().registrations[0].dwICC, 0x4020u);

  ASSERT_EQ(standin::Shell32().calls.size(), 1u);
  EXPECT_EQ(standin::Shell32().calls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(standin::Shell32().calls[0].record.hWnd, dialog_);
  EXPECT_EQ(std::string(standin::Shell32().calls[0].record.szTip), title_);

  // Only the first-slide timer: the resize happened while the window was hidden.
  ASSERT_EQ(standin::Window().timerCalls.size(), 1u);
  EXPECT_EQ(standin::Window().timerCalls[0].id, 101u);
  EXPECT_EQ(standin::Window().timerCalls[0].ms, 10u);
  for (int i = 0; i < 4; ++i) EXPECT_NE(g_slides[i], nullptr) << "slide " << i;
  EXPECT_EQ(w->ShowStatus("x"), 0);
}

TEST_F(ProgressWindowShownTest, MissingButtonTextAndIconAreHarmless) {
  standin::Kernel32().strings.erase(104);
  standin::Window().icons.clear();
  CreateWindow();
  EXPECT_EQ(standin::Window().windows[GetDlgItem(dialog_, 112)].text, "");
  EXPECT_EQ(standin::Window().windows[dialog_].bigIcon, nullptr);
  EXPECT_EQ(standin::Shell32().calls[0].record.hIcon, nullptr);
}

TEST_F(ProgressWindowShownTest, SecondCreateCreatesNothingNew) {
  ProgressWindow* w = CreateWindow();
  HWND other = reinterpret_cast<HWND>(0x7770);
  EXPECT_TRUE(w->Create(reinterpret_cast<HINSTANCE>(0x500000), other, "second"));
  EXPECT_EQ(w->GetWindow(), dialog_);
  EXPECT_EQ(standin::WindowsOfClass("#32770").size(), 1u);
  EXPECT_EQ(standin::Shell32().calls.size(), 1u);
  EXPECT_EQ(w->Module(), reinterpret_cast<HINSTANCE>(0x500000));
  EXPECT_STREQ(ProgressWindowTestAccess::Title(w), "second");
  EXPECT_EQ(standin::Window().windows[dialog_].text, title_);
}

TEST_F(ProgressWindowShownTest, StatusAnswersFollowTheWindowsState) {
  struct Case {
    const char* name;
    void (*prepare)(ProgressWindow*, HWND dialog);
    int expected;
    bool drawn;
  } cases[] = {
      {"shown", [](ProgressWindow*, HWND) {}, 0, true},
      {"cancelled by the button",
       [](ProgressWindow*, HWND dialog) {
         HWND button = GetDlgItem(dialog, 112);
         PostMessageA(button, WM_LBUTTONDOWN, 0, 0);
         PostMessageA(button, WM_LBUTTONUP, 0, 0);
         ProgressWindow::Instance()->Step(1);
       },
       1, false},
      {"closed", [](ProgressWindow* w, HWND) { w->Close(); }, -1, false},
      {"window destroyed behind its back", [](ProgressWindow*, HWND dialog) { DestroyWindow(dialog); }, 0, false},
  };
  for (const Case& c : cases) {
    SetUp();
    ProgressWindow* w = CreateWindow();
    c.prepare(w, dialog_);
    EXPECT_EQ(w->ShowStatus("status"), c.expected) << c.name;
    EXPECT_EQ(standin::Gdi().texts.size(), c.drawn ? 1u : 0u) << c.name;
    EXPECT_EQ(w->SetStatusText("status"), c.expected) << c.name;
    TearDown();
  }
}

TEST_F(ProgressWindowShownTest, SetStatusTextGoesToTheMissingItem115) {
  ProgressWindow* w = CreateWindow();
  EXPECT_EQ(w->SetStatusText("hello"), 0);
  ASSERT_EQ(standin::Window().dialogItemTexts.size(), 2u);  // the button's text, then this
  EXPECT_EQ(standin::Window().dialogItemTexts[1].id, 115);
  EXPECT_FALSE(standin::Window().dialogItemTexts[1].result);
}

TEST_F(ProgressWindowShownTest, ShowStatusDrawsOneLineInTheStripAndReleasesEverything) {
  ProgressWindow* w = CreateWindow();
  std::string text = standin::Ansi("正在下载 Vexo & 更多");
  ASSERT_EQ(w->ShowStatus(text.c_str()), 0);
  ASSERT_EQ(standin::Gdi().texts.size(), 1u);
  const standin::TextCall& t = standin::Gdi().texts[0];
  EXPECT_EQ(t.text, text);
  EXPECT_EQ(t.length, static_cast<int>(text.size()));
  EXPECT_EQ(t.format, 0x8824u);
  EXPECT_EQ(t.fontHeight, 16);
  EXPECT_EQ(t.bkMode, TRANSPARENT);
  RECT status = ProgressWindowTestAccess::StatusRect(w);
  EXPECT_EQ(t.rect.left, status.left);
  EXPECT_EQ(t.rect.top, status.top);
  EXPECT_EQ(standin::WhatIsAt(dialog_, 10, status.top + 5), "text 正在下载 Vexo & 更多");
  EXPECT_EQ(standin::WhatIsAt(dialog_, 290, status.top + 5), "");  // right of the strip: untouched
  EXPECT_EQ(standin::OutstandingGdiObjects(), 0);
  EXPECT_EQ(standin::OutstandingDCs(), 0);
  EXPECT_TRUE(standin::Gdi().misuse.empty()) << standin::Gdi().misuse[0];
  // A second line replaces the first.
  w->ShowStatus("next");
  EXPECT_EQ(standin::WhatIsAt(dialog_, 10, status.top + 5), "text next");
}

TEST_F(ProgressWindowShownTest, OnlyAClickOnCancelCancels) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
    bool toButton;
    bool cancels, rotationStops;
  } cases[] = {
      {"click on the button", WM_LBUTTONUP, 0, true, true, false},
      {"command 112 without a control (accelerator)", WM_COMMAND, 112, false, false, false},
      {"close box", WM_SYSCOMMAND, SC_CLOSE, false, false, true},
      {"Alt+F4", WM_SYSKEYDOWN, VK_F4, false, false, true},
      {"Esc", WM_KEYDOWN, VK_ESCAPE, false, false, false},
      {"Esc on the button", WM_KEYDOWN, VK_ESCAPE, true, false, false},
  };
  for (const Case& c : cases) {
    SetUp();
    ProgressWindow* w = CreateWindow();
    Tick(101);  // the rotation runs
    PostMessageA(c.toButton ? GetDlgItem(dialog_, 112) : dialog_, c.message, c.wParam, 0);
    Pump();
    EXPECT_EQ(w->IsCancelled(), c.cancels) << c.name;
    EXPECT_TRUE(IsWindow(dialog_)) << c.name;
    EXPECT_TRUE(IsWindowVisible(dialog_)) << c.name;
    EXPECT_EQ(standin::IsTimerRunning(dialog_, 100), !c.rotationStops) << c.name;
    TearDown();
  }
}

TEST_F(ProgressWindowShownTest, WaitCursorEverywhereButOverTheButton) {
  CreateWindow();
  SendMessageA(dialog_, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog_), HTCLIENT);
  ASSERT_EQ(standin::Window().cursorsSet.size(), 1u);
  EXPECT_EQ(standin::Window().cursorsSet[0], LoadCursorA(nullptr, IDC_WAIT));
  SendMessageA(dialog_, WM_SETCURSOR, reinterpret_cast<WPARAM>(GetDlgItem(dialog_, 112)), HTCLIENT);
  EXPECT_EQ(standin::Window().cursorsSet.size(), 1u);
}

TEST_F(ProgressWindowShownTest, LeftClickOnTheTrayIconRestoresTheWindow) {
  struct Case {
    const char* name;
    LPARAM mouse;
    bool restored;
  } cases[] = {
      {"left button", WM_LBUTTONDOWN, true},
      {"right button", WM_RBUTTONDOWN, false},
  };
  for (const Case& c : cases) {
    SetUp();
    CreateWindow();
    ShowWindow(dialog_, SW_MINIMIZE);
    Tick(102);  // minimising resized the visible window too
    PostMessageA(dialog_, 1124, 128, c.mouse);
    Pump();
    EXPECT_EQ(!standin::Window().windows[dialog_].minimized, c.restored) << c.name;
    // Restoring the visible window resizes it: the banner repaints once.
    EXPECT_EQ(standin::IsTimerRunning(dialog_, 102), c.restored) << c.name;
    TearDown();
  }
}

TEST_F(ProgressWindowShownTest, PaintAndEraseDrawNothing) {
  CreateWindow();
  Tick(101);
  InvalidateRect(dialog_, nullptr, TRUE);
  UpdateWindow(dialog_);
  EXPECT_EQ(Banner(), "image slide129");
  EXPECT_FALSE(standin::Window().windows[dialog_].needsPaint);
  EXPECT_EQ(standin::OutstandingDCs(), 0);
}

TEST_F(ProgressWindowShownTest, CloseRemovesIconAndWindowAndKeepsTheTitle) {
  ProgressWindow* w = CreateWindow();
  Tick(101);
  w->Cancel();
  EXPECT_TRUE(w->Close());
  EXPECT_FALSE(IsWindow(dialog_));
  EXPECT_TRUE(standin::Window().timers.empty());
  EXPECT_TRUE(standin::Shell32().icons.empty());
  EXPECT_EQ(w->GetWindow(), nullptr);
  EXPECT_FALSE(w->IsCancelled());
  EXPECT_EQ(w->Module(), nullptr);
  EXPECT_EQ(std::string(ProgressWindowTestAccess::Title(w)), title_);
  EXPECT_EQ(g_slideCounter, 1);
  // Release and the driver remove the icon again: harmless.
  ProgressWindow::Release();
  RemoveTrayIcon();
  EXPECT_FALSE(standin::Shell32().calls.back().result);
  EXPECT_TRUE(standin::Shell32().icons.empty());
}

TEST_F(ProgressWindowShownTest, ReleaseRemovesTheIconButNotTheWindow) {
  CreateWindow();
  ProgressWindow::Release();
  EXPECT_EQ(standin::Shell32().calls.back().message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_TRUE(standin::Shell32().icons.empty());
  EXPECT_TRUE(IsWindow(dialog_));
}

TEST_F(ProgressWindowShownTest, CreateAfterCloseReusesTheDecodedSlides) {
  ProgressWindow* w = CreateWindow();
  Gdiplus::Image* first = g_slides[0];
  w->Close();
  int blocks = standin::OutstandingAllocations();
  CreateWindow();
  EXPECT_EQ(g_slides[0], first);
  EXPECT_EQ(standin::OutstandingAllocations(), blocks);
  EXPECT_EQ(standin::Shell32().icons.size(), 1u);
}

}  // namespace
