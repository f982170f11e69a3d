#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/standin.h"
#include "ui/slideshow.h"
#include "unit/ui_test_support.h"

namespace {

using uitest::Jpeg;
using uitest::kModule;
using uitest::SetSlide;

class SlideshowTest : public uitest::WindowTest {
 protected:
  void ExpectNothingLeft(const std::string& when) {
    EXPECT_EQ(standin::OutstandingGdiObjects(), 0) << when;
    EXPECT_EQ(standin::OutstandingDCs(), 0) << when;
    EXPECT_EQ(standin::GdiplusLibrary().liveGraphics, 0) << when;
    EXPECT_TRUE(standin::Gdi().misuse.empty()) << when << ": " << standin::Gdi().misuse.front();
    EXPECT_TRUE(standin::GdiplusLibrary().misuse.empty()) << when;
  }
};

TEST_F(SlideshowTest, SlidesRotateInCycleAndTheCounterStartsOver) {
  CreateWindow();
  EXPECT_EQ(Banner(), "") << "nothing is drawn before the first-slide timer";
  Tick(101);
  EXPECT_EQ(Banner(), "image slide129");
  EXPECT_EQ(g_slideCounter, 1);
  EXPECT_FALSE(standin::IsTimerRunning(dialog_, 101));
  ASSERT_TRUE(standin::IsTimerRunning(dialog_, 100));
  const auto rotation = std::make_pair(dialog_, static_cast<UINT_PTR>(100));
  EXPECT_EQ(standin::Window().timers[rotation].ms, 5000u);
  ExpectNothingLeft("first slide");

  struct Step {
    int slide;
    int counter;
  } steps[] = {{1, 2}, {2, 3}, {3, 4}, {0, 5}, {1, 6}, {2, 7}, {3, 8}, {0, 1}, {1, 2}};
  int n = 0;
  for (const Step& s : steps) {
    std::string row = "rotation tick " + std::to_string(++n);
    Tick(100);
    EXPECT_EQ(Banner(), "image slide" + std::to_string(129 + s.slide)) << row;
    EXPECT_EQ(g_slideCounter, s.counter) << row;
    ExpectNothingLeft(row);
  }
  // Drawn at the image's own size from the top-left corner.
  const standin::DrawnImage& last = standin::GdiplusLibrary().drawn.back();
  EXPECT_EQ(last.x, 0);
  EXPECT_EQ(last.y, 0);
  EXPECT_EQ(last.width, 392);
  EXPECT_EQ(last.height, 209);
  EXPECT_EQ(standin::WhatIsAt(dialog_, 100, 250), "fill F0F0F0") << "below the banner";
}

TEST_F(SlideshowTest, FailedSlidesKeepThePreviousPictureOrShowTheBackground) {
  struct Case {
    const char* name;
    void (*breakSlide2)();
    std::string shownForSlide2;
  } cases[] = {
      {"missing resource", [] { standin::Kernel32().resources.erase("JPG/#131"); }, "image slide130"},
      {"resource that does not load", [] { standin::Kernel32().resources["JPG/#131"].loadFails = true; },
       "image slide130"},
      {"data that does not decode", [] { SetSlide(2, "GIF89a"); }, "fill F0F0F0"},
      {"no memory for the image object", [] {}, "image slide130"},
  };
  for (const Case& c : cases) {
    SetUp();
    c.breakSlide2();
    ProgressWindow* w = ProgressWindow::Instance();
    if (std::string(c.name) == "no memory for the image object") {
      // Only slide 2 runs out: the others have their images already.
      for (int i : {0, 1, 3}) LoadImageResource(kModule, static_cast<WORD>(129 + i), "JPG", &g_slides[i]);
      standin::GdiplusLibrary().allocFails = true;
    }
    w->Create(kModule, nullptr, title_.c_str());
    standin::GdiplusLibrary().allocFails = false;
    dialog_ = w->GetWindow();
    Tick(101);
    Tick(100);
    EXPECT_EQ(Banner(), "image slide130") << c.name;
    Tick(100);
    EXPECT_EQ(Banner(), c.shownForSlide2) << c.name;
    EXPECT_EQ(g_slideCounter, 3) << c.name;
    Tick(100);
    EXPECT_EQ(Banner(), "image slide132") << c.name;
    ExpectNothingLeft(c.name);
    TearDown();
  }
}

TEST_F(SlideshowTest, SlidePaintsEraseTheStatusLineAndMissingOnesLeaveIt) {
  SetSlide(1, "");
  standin::Kernel32().resources.erase("JPG/#130");
  ProgressWindow* w = CreateWindow();
  Tick(101);
  const int row = 239 + 5;
  w->ShowStatus("status");
  EXPECT_EQ(standin::WhatIsAt(dialog_, 10, row), "text status");
  Tick(100);  // slide 1: missing
  EXPECT_EQ(standin::WhatIsAt(dialog_, 10, row), "text status");
  Tick(100);  // slide 2
  EXPECT_EQ(standin::WhatIsAt(dialog_, 10, row), "fill F0F0F0");
}

TEST_F(SlideshowTest, RepaintTimerShowsTheNextSlideOnceWithoutAdvancing) {
  CreateWindow();
  // Before the first slide the counter is 0: the repaint shows slide 0.
  MoveWindow(dialog_, 10, 10, 396, 297, TRUE);
  ASSERT_TRUE(standin::IsTimerRunning(dialog_, 102));
  Tick(102);
  EXPECT_EQ(Banner(), "image slide129");
  EXPECT_EQ(g_slideCounter, 0);
  EXPECT_FALSE(standin::IsTimerRunning(dialog_, 102));
  EXPECT_EQ(standin::Kernel32().sleeps, std::vector<DWORD>{10});

  Tick(101);
  Tick(100);  // slide 1, counter 2
  MoveWindow(dialog_, 10, 10, 396, 297, TRUE);
  Tick(102);
  EXPECT_EQ(Banner(), "image slide131");
  EXPECT_EQ(g_slideCounter, 2);
  Tick(100);
  EXPECT_EQ(Banner(), "image slide131");
  ExpectNothingLeft("repaint");
}

TEST_F(SlideshowTest, CloseBoxStopsTheRotationButAResizeStillRepaints) {
  CreateWindow();
  Tick(101);
  Tick(100);
  PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump();
  EXPECT_FALSE(standin::PostTimerTick(dialog_, 100));
  EXPECT_EQ(Banner(), "image slide130");
  MoveWindow(dialog_, 10, 10, 396, 297, TRUE);
  Tick(102);
  EXPECT_EQ(Banner(), "image slide131");
}

TEST_F(SlideshowTest, TickForADestroyedWindowPaintsNothing) {
  CreateWindow();
  Tick(101);
  int drawn = static_cast<int>(standin::GdiplusLibrary().drawn.size());
  DestroyWindow(dialog_);
  SlideTimerProc(dialog_, WM_TIMER, 100, 0);
  EXPECT_EQ(static_cast<int>(standin::GdiplusLibrary().drawn.size()), drawn);
  EXPECT_EQ(standin::OutstandingDCs(), 0);
}

TEST_F(SlideshowTest, LoaderKeepsOnlyWhatADecodedImageReads) {
  struct Case {
    const char* name;
    std::string bytes;
    void (*script)();
    bool result;
    bool image;       // out holds an image object
    UINT width;       // of that image
    int blocksLeft;   // global blocks still allocated
    int streamsLeft;  // streams still referenced
  } cases[] = {
      {"decodable slide", Jpeg("s"), [] {}, true, true, 392, 1, 1},
      {"undecodable data", "not a picture", [] {}, true, true, 0, 0, 0},
      {"no GDI+ memory for the image", Jpeg("s"), [] { standin::GdiplusLibrary().allocFails = true; }, true, false, 0,
       0, 0},
      {"no global memory", Jpeg("s"), [] { standin::Heap().failAll = true; }, false, false, 0, 0, 0},
      {"no stream", Jpeg("s"), [] { standin::Ole32().createFails = true; }, false, false, 0, 0, 0},
      {"resource does not load", Jpeg("s"), [] { standin::Kernel32().resources["JPG/#129"].loadFails = true; },
       false, false, 0, 0, 0},
      {"resource missing", Jpeg("s"), [] { standin::Kernel32().resources.clear(); }, false, false, 0, 0, 0},
  };
  Gdiplus::Image* const kUntouched = reinterpret_cast<Gdiplus::Image*>(0x1234);
  for (const Case& c : cases) {
    SetUp();
    SetSlide(0, c.bytes);
    c.script();
    Gdiplus::Image* image = kUntouched;
    EXPECT_EQ(LoadImageResource(kModule, 129, "JPG", &image), c.result) << c.name;
    standin::Heap().failAll = false;
    if (!c.result) {
      EXPECT_EQ(image, kUntouched) << c.name;
    } else {
      ASSERT_EQ(image != nullptr, c.image) << c.name;
      if (image) {
        EXPECT_EQ(image->GetWidth(), c.width) << c.name;
      }
    }
    EXPECT_EQ(standin::OutstandingAllocations(), c.blocksLeft) << c.name;
    EXPECT_EQ(standin::Ole32().liveStreams, c.streamsLeft) << c.name;
    if (c.result && image) delete image;
    EXPECT_EQ(standin::Ole32().liveStreams, 0) << c.name << ": the image holds the last reference";
    EXPECT_TRUE(standin::GdiplusLibrary().misuse.empty()) << c.name;
    TearDown();
  }
}

}  // namespace
