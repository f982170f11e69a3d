#include <gtest/gtest.h>

#include <new>
#include <string>

#include "standin/standin.h"
#include "ui/progress_window.h"
#include "ui/tray_icon.h"

struct ProgressWindowTestAccess {
  static const char* Title(const ProgressWindow* w) { return w->title_; }
  static RECT StatusRect(const ProgressWindow* w) { return w->statusRect_; }
};

namespace {

const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(0x400000);
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

TEST_F(ProgressWindowTest, ReleaseRemovesTheTrayIcon) {
  ProgressWindow::Instance();
  ProgressWindow::Release();
  ASSERT_EQ(standin::Shell32().calls.size(), 1u);
  EXPECT_EQ(standin::Shell32().calls[0].message, static_cast<DWORD>(NIM_DELETE));
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
