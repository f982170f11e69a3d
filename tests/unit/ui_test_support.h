// A platform with the installer's dialog, icon, strings and four slides,
// for the tests of the progress window and the slideshow.
#ifndef VEXO_TESTS_UNIT_UI_TEST_SUPPORT_H
#define VEXO_TESTS_UNIT_UI_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include "standin/standin.h"
#include "ui/progress_window.h"
#include "ui/slideshow.h"
#include "ui/tray_icon.h"

namespace uitest {

const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(0x400000);
const HICON kIcon = reinterpret_cast<HICON>(0x1070);

// Slide bytes: the JPEG marker the stand-in decodes, then the picture's name.
inline std::string Jpeg(const std::string& name) { return "\xFF\xD8\xFF" + name; }

inline void SetSlide(int index, const std::string& bytes) {
  standin::AddResource("JPG", MAKEINTRESOURCEA(129 + index), bytes);
}

// The slides stay decoded for the process; tests start without them.
inline void ForgetSlides() {
  for (Gdiplus::Image*& slide : g_slides) {
    delete slide;
    slide = nullptr;
  }
  g_slideCounter = 0;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressWindow::Release();
    ForgetSlides();
    standin::Reset();
    ZeroTrayIcon();
    standin::LoadShippedStrings();
    standin::AddProgressDialog();
    standin::Window().icons[107] = kIcon;
    for (int i = 0; i < 4; ++i) SetSlide(i, Jpeg("slide" + std::to_string(129 + i)));
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    title_ = standin::Ansi("Vexo影音在线安装");
  }
  void TearDown() override {
    ProgressWindow::Release();
    ForgetSlides();
  }

  ProgressWindow* CreateWindow() {
    ProgressWindow* w = ProgressWindow::Instance();
    EXPECT_TRUE(w->Create(kModule, nullptr, title_.c_str()));
    dialog_ = w->GetWindow();
    return w;
  }
  // Runs the progress window's pump, as a download notification does.
  static void Pump() { ProgressWindow::Instance()->Step(0); }
  void Tick(UINT_PTR timer) {
    ASSERT_TRUE(standin::PostTimerTick(dialog_, timer)) << "timer " << timer << " is not running";
    Pump();
  }
  std::string Banner() { return standin::WhatIsAt(dialog_, 100, 100); }

  std::string title_;
  HWND dialog_ = nullptr;
};

}  // namespace uitest

#endif
