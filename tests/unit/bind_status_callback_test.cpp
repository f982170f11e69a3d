#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/bind_status_callback.h"
#include "download/download_session.h"
#include "standin/standin.h"
#include "standin/win32.h"
#include "ui/progress_window.h"

namespace {

// The callback drives a progress window without a dialog (no window is
// made before the window itself arrives): its bar messages go to item
// 114 of no dialog, where the stand-in records them, and each SetRange or
// Step drains the queue once.
class BindStatusCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressWindow::Release();
    standin::Reset();
    standin::LoadShippedStrings();
    window_ = ProgressWindow::Instance();
  }
  void TearDown() override { ProgressWindow::Release(); }

  // What reached the progress bar: "range N", "pos N", "step N".
  static std::vector<std::string> Bar() {
    std::vector<std::string> bar;
    for (const auto& m : standin::Window().dialogItemMessages) {
      if (m.id != 114) continue;
      if (m.message == PBM_SETRANGE32)
        bar.push_back("range " + std::to_string(m.wParam) + ".." + std::to_string(m.lParam));
      else if (m.message == PBM_SETPOS)
        bar.push_back("pos " + std::to_string(m.wParam));
      else if (m.message == PBM_DELTAPOS)
        bar.push_back("step " + std::to_string(static_cast<int>(m.wParam)));
    }
    return bar;
  }

  static std::vector<standin::NotifyIconCall> Balloons() {
    std::vector<standin::NotifyIconCall> balloons;
    for (const auto& call : standin::Shell32().calls)
      if (call.message == NIM_MODIFY && (call.record.uFlags & NIF_INFO)) balloons.push_back(call);
    return balloons;
  }

  ProgressWindow* window_ = nullptr;
};

struct Note {
  ULONG code;
  ULONG progress;
  ULONG progressMax;
  HRESULT expected;
  bool cancelFirst = false;  // the user has pressed Cancel before this one
};

struct SequenceCase {
  const char* name;
  std::vector<Note> notes;
  std::vector<std::string> bar;
  int pumps;  // queue drains: one per SetRange or Step
  size_t balloons;
};

TEST_F(BindStatusCallbackTest, NotificationSequences) {
  const ULONG kBegin = BINDSTATUS_BEGINDOWNLOADDATA, kData = BINDSTATUS_DOWNLOADINGDATA,
              kEnd = BINDSTATUS_ENDDOWNLOADDATA;
  const SequenceCase kCases[] = {
      {"whole download",
       {{kBegin, 0, 100, S_OK}, {kData, 30, 100, S_OK}, {kData, 100, 100, S_OK}, {kEnd, 100, 100, S_OK}},
       {"range 0..100", "pos 0", "step 30", "step 70"},
       3,
       1},
      {"begin with data already there", {{kBegin, 20, 100, S_OK}}, {"range 0..100", "pos 0", "step 20"}, 2, 0},
      {"same progress again: no step", {{kData, 30, 0, S_OK}, {kData, 30, 0, S_OK}}, {"step 30"}, 1, 0},
      {"progress going back moves the bar back", {{kData, 50, 0, S_OK}, {kData, 20, 0, S_OK}},
       {"step 50", "step -30"}, 2, 0},
      {"unknown length", {{kBegin, 0, 0, S_OK}}, {"range 0..0", "pos 0"}, 1, 0},
      {"begin resets the last progress", {{kData, 60, 0, S_OK}, {kBegin, 10, 200, S_OK}},
       {"step 60", "range 0..200", "pos 0", "step 10"}, 3, 0},
      {"end fills the bar without data notifications", {{kBegin, 0, 100, S_OK}, {kEnd, 0, 100, S_OK}},
       {"range 0..100", "pos 0", "step 100"}, 2, 1},
      {"end leaves the last progress as it was", {{kData, 40, 0, S_OK}, {kEnd, 0, 100, S_OK}, {kEnd, 0, 100, S_OK}},
       {"step 40", "step 60", "step 60"}, 3, 2},
      {"other codes never move nor abort, even after Cancel",
       {{BINDSTATUS_FINDINGRESOURCE, 0, 0, S_OK, true},
        {BINDSTATUS_CONNECTING, 0, 0, S_OK},
        {BINDSTATUS_REDIRECTING, 5, 10, S_OK},
        {BINDSTATUS_SENDINGREQUEST, 0, 0, S_OK},
        {BINDSTATUS_MIMETYPEAVAILABLE, 0, 0, S_OK},
        {BINDSTATUS_CACHEFILENAMEAVAILABLE, 0, 0, S_OK},
        {0, 7, 9, S_OK},
        {100, 7, 9, S_OK}},
       {},
       0,
       0},
      {"Cancel before the begin: range set, then abort", {{kBegin, 10, 100, E_ABORT, true}},
       {"range 0..100", "pos 0"}, 1, 0},
      {"Cancel before data: step, then abort", {{kData, 10, 0, E_ABORT, true}}, {"step 10"}, 1, 0},
      {"Cancel with no progress: abort without a step", {{kData, 0, 0, E_ABORT, true}}, {}, 0, 0},
      {"end after Cancel aborts before the balloon", {{kData, 10, 100, S_OK}, {kEnd, 0, 100, E_ABORT, true}},
       {"step 10", "step 90"}, 2, 0},
  };
  for (const SequenceCase& c : kCases) {
    SetUp();
    CDownloadBindStatusCallback callback(window_);
    for (size_t i = 0; i < c.notes.size(); ++i) {
      const Note& n = c.notes[i];
      if (n.cancelFirst) window_->Cancel();
      EXPECT_EQ(n.expected, callback.OnProgress(n.progress, n.progressMax, n.code, nullptr))
          << c.name << ", notification " << i;
    }
    EXPECT_EQ(c.bar, Bar()) << c.name;
    EXPECT_EQ(c.pumps, standin::User32().peekCalls) << c.name;
    EXPECT_EQ(c.balloons, Balloons().size()) << c.name;
    TearDown();
  }
}

TEST_F(BindStatusCallbackTest, EndShowsTheCompletionBalloon) {
  CDownloadBindStatusCallback callback(window_);
  EXPECT_EQ(S_OK, callback.OnProgress(0, 10, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  std::vector<standin::NotifyIconCall> balloons = Balloons();
  ASSERT_EQ(1u, balloons.size());
  EXPECT_EQ(standin::Ansi("下载完成。"), balloons[0].record.szInfo);
  EXPECT_EQ(standin::Ansi("Vexo影音在线安装"), balloons[0].record.szInfoTitle);
  EXPECT_EQ(static_cast<DWORD>(NIIF_INFO), balloons[0].record.dwInfoFlags);
  EXPECT_EQ(1000u, balloons[0].record.uTimeout);
}

TEST_F(BindStatusCallbackTest, QueryInterface) {
  const IID kOther = {0x79eac9d2, 0xbaf9, 0x11ce, {0x8c, 0x82, 0x00, 0xaa, 0x00, 0x4b, 0xa9, 0x0b}};
  const struct {
    const char* name;
    const IID& iid;
    HRESULT result;
    ULONG countAfter;
  } kCases[] = {
      {"IUnknown", IID_IUnknown, S_OK, 2},
      {"IBindStatusCallback", IID_IBindStatusCallback, S_OK, 2},
      {"any other interface", kOther, E_NOINTERFACE, 1},
  };
  for (const auto& c : kCases) {
    CDownloadBindStatusCallback callback(window_);
    void* object = reinterpret_cast<void*>(0x1);  // anything but the answer
    EXPECT_EQ(c.result, callback.QueryInterface(c.iid, &object)) << c.name;
    EXPECT_EQ(c.result == S_OK ? static_cast<void*>(static_cast<IUnknown*>(&callback)) : nullptr, object) << c.name;
    EXPECT_EQ(c.countAfter + 1, callback.AddRef()) << c.name;
  }

  CDownloadBindStatusCallback callback(window_);
  EXPECT_EQ(E_INVALIDARG, callback.QueryInterface(IID_IUnknown, nullptr));
  EXPECT_EQ(2u, callback.AddRef());  // the null out pointer added no reference
  EXPECT_EQ(1u, callback.Release());
}

TEST_F(BindStatusCallbackTest, NoOpMethodsLeaveTheServiceDefaults) {
  CDownloadBindStatusCallback callback(window_);
  LONG priority = 12345;
  DWORD bindFlags = 0x2468;
  EXPECT_EQ(S_OK, callback.OnStartBinding(0, nullptr));
  EXPECT_EQ(S_OK, callback.GetPriority(&priority));
  EXPECT_EQ(S_OK, callback.OnLowResource(0));
  EXPECT_EQ(S_OK, callback.GetBindInfo(&bindFlags, nullptr));
  EXPECT_EQ(S_OK, callback.OnDataAvailable(0, 0, nullptr, nullptr));
  EXPECT_EQ(S_OK, callback.OnObjectAvailable(IID_IUnknown, nullptr));
  EXPECT_EQ(S_OK, callback.OnStopBinding(E_ABORT, nullptr));
  EXPECT_EQ(12345, priority);
  EXPECT_EQ(0x2468u, bindFlags);
  EXPECT_TRUE(Bar().empty());
}

// The download service takes and drops its own references; the caller's
// stays, so the object on the stack is never freed.
TEST_F(BindStatusCallbackTest, InteractiveDownloadReportsThroughTheCallback) {
  standin::Urlmon().notifications = {{BINDSTATUS_CONNECTING, 0, 0},
                                     {BINDSTATUS_BEGINDOWNLOADDATA, 0, 1000},
                                     {BINDSTATUS_DOWNLOADINGDATA, 400, 1000},
                                     {BINDSTATUS_ENDDOWNLOADDATA, 1000, 1000}};
  char cacheFile[260] = {};
  EXPECT_EQ(S_OK, DownloadPackage("http://h/a.exe", cacheFile, window_));
  ASSERT_EQ(1u, standin::Urlmon().calls.size());
  EXPECT_TRUE(standin::Urlmon().calls[0].callbackGiven);
  EXPECT_FALSE(standin::Urlmon().callbackQueryFailed);
  EXPECT_EQ(1u, standin::Urlmon().refCountAfterRelease);
  EXPECT_EQ((std::vector<std::string>{"range 0..1000", "pos 0", "step 400", "step 600"}), Bar());
  EXPECT_EQ(1u, Balloons().size());
  EXPECT_EQ(standin::Urlmon().cachePath, cacheFile);
}

TEST_F(BindStatusCallbackTest, CancelDuringTheDownloadAbortsIt) {
  standin::Urlmon().notifications = {{BINDSTATUS_BEGINDOWNLOADDATA, 0, 1000},
                                     {BINDSTATUS_DOWNLOADINGDATA, 400, 1000},
                                     {BINDSTATUS_DOWNLOADINGDATA, 800, 1000},
                                     {BINDSTATUS_ENDDOWNLOADDATA, 1000, 1000}};
  ProgressWindow* window = window_;
  standin::Urlmon().beforeNotification = [window](size_t i) {
    if (i == 1) window->Cancel();
  };
  char cacheFile[260] = {};
  EXPECT_EQ(E_ABORT, DownloadPackage("http://h/a.exe", cacheFile, window_));
  EXPECT_EQ((std::vector<HRESULT>{S_OK, E_ABORT}), standin::Urlmon().progressResults);
  EXPECT_EQ(1u, standin::Urlmon().refCountAfterRelease);
  EXPECT_TRUE(Balloons().empty());
  EXPECT_TRUE(window_->IsCancelled());
}

}  // namespace
