#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "standin/standin.h"
#include "ui/tray_icon.h"

namespace {

const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(0x400000);
const HICON kIcon = reinterpret_cast<HICON>(0x1070);

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    ZeroTrayIcon();
    standin::Window().icons[107] = kIcon;
    standin::AddProgressDialog();
    window_ = CreateDialogParamA(kModule, MAKEINTRESOURCEA(101), nullptr, nullptr, 0);
  }
  const standin::NotifyIconCall& LastCall() { return standin::Shell32().calls.back(); }
  HWND window_ = nullptr;
};

TEST_F(TrayIconTest, AddFillsTheRecordForTheShell) {
  ASSERT_TRUE(AddTrayIcon(window_, kModule, standin::Ansi("Vexo影音在线安装").c_str()));
  ASSERT_EQ(standin::Shell32().calls.size(), 1u);
  const NOTIFYICONDATAA& r = LastCall().record;
  EXPECT_EQ(LastCall().message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(r.cbSize, 508u);
  EXPECT_EQ(r.hWnd, window_);
  EXPECT_EQ(r.uID, 128u);
  EXPECT_EQ(r.uFlags, 7u);
  EXPECT_EQ(r.uCallbackMessage, 1124u);
  EXPECT_EQ(r.hIcon, kIcon);
  EXPECT_EQ(standin::Utf8(r.szTip), "Vexo影音在线安装");
  EXPECT_EQ(r.szInfo[0], 0);
  EXPECT_EQ(r.dwInfoFlags, 0u);
}

TEST_F(TrayIconTest, MissingIconStillAdds) {
  standin::Window().icons.clear();
  EXPECT_TRUE(AddTrayIcon(window_, kModule, "tip"));
  EXPECT_EQ(LastCall().record.hIcon, nullptr);
  EXPECT_EQ(standin::Shell32().icons.size(), 1u);
}

TEST_F(TrayIconTest, BalloonModifiesOnlyTheInfoOfTheAddedIcon) {
  AddTrayIcon(window_, kModule, "tip");
  std::string text = standin::Ansi("下载完成。"), title = standin::Ansi("Vexo影音在线安装");
  EXPECT_TRUE(ShowTrayBalloon(text.c_str(), title.c_str(), NIIF_INFO, 1000));
  const NOTIFYICONDATAA& r = LastCall().record;
  EXPECT_EQ(LastCall().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(r.cbSize, 508u);
  EXPECT_EQ(r.uFlags, 16u);
  EXPECT_EQ(r.hWnd, window_);
  EXPECT_EQ(r.uID, 128u);
  EXPECT_EQ(r.dwInfoFlags, 1u);
  EXPECT_EQ(r.uTimeout, 1000u);
  EXPECT_EQ(standin::Utf8(r.szInfo), "下载完成。");
  EXPECT_EQ(standin::Utf8(r.szInfoTitle), "Vexo影音在线安装");
  const NOTIFYICONDATAA& shown = standin::Shell32().icons.begin()->second;
  EXPECT_STREQ(shown.szTip, "tip");
  EXPECT_EQ(shown.hIcon, kIcon);
  EXPECT_EQ(standin::Utf8(shown.szInfo), "下载完成。");
}

TEST_F(TrayIconTest, TextsAreCutToTheirFieldsByWholeCharacters) {
  const std::string dbcs = standin::Ansi("中");  // two bytes
  struct Case {
    const char* name;
    const char* field;  // "tip", "info" or "title"
    std::string text;
    std::string expected;
  } cases[] = {
      {"tip that fits exactly", "tip", std::string(127, 't'), std::string(127, 't')},
      {"long tip", "tip", std::string(400, 't'), std::string(127, 't')},
      {"tip whose last character straddles the end", "tip", std::string(126, 't') + dbcs, std::string(126, 't')},
      {"tip whose last character just fits", "tip", std::string(125, 't') + dbcs, std::string(125, 't') + dbcs},
      {"long balloon text", "info", std::string(300, 'i'), std::string(255, 'i')},
      {"balloon text straddling the end", "info", std::string(254, 'i') + dbcs + "x", std::string(254, 'i')},
      {"long balloon title", "title", std::string(100, 'h'), std::string(63, 'h')},
      {"balloon title straddling the end", "title", std::string(62, 'h') + dbcs, std::string(62, 'h')},
  };
  for (const Case& c : cases) {
    ZeroTrayIcon();
    standin::Reset();
    standin::AddProgressDialog();
    window_ = CreateDialogParamA(kModule, MAKEINTRESOURCEA(101), nullptr, nullptr, 0);
    std::string field = c.field;
    AddTrayIcon(window_, kModule, field == "tip" ? c.text.c_str() : "tip");
    if (field != "tip") ShowTrayBalloon(field == "info" ? c.text.c_str() : "", field == "title" ? c.text.c_str() : "", 1, 1000);
    const NOTIFYICONDATAA& r = LastCall().record;
    const char* got = field == "tip" ? r.szTip : field == "info" ? r.szInfo : r.szInfoTitle;
    size_t size = field == "tip" ? sizeof r.szTip : field == "info" ? sizeof r.szInfo : sizeof r.szInfoTitle;
    ASSERT_NE(memchr(got, 0, size), nullptr) << c.name;
    EXPECT_EQ(std::string(got), c.expected) << c.name;
  }
}

TEST_F(TrayIconTest, NullBalloonTextsAreEmpty) {
  AddTrayIcon(window_, kModule, "tip");
  ShowTrayBalloon("old text", "old title", 1, 1000);
  EXPECT_TRUE(ShowTrayBalloon(nullptr, nullptr, 0, 500));
  EXPECT_STREQ(LastCall().record.szInfo, "");
  EXPECT_STREQ(LastCall().record.szInfoTitle, "");
}

TEST_F(TrayIconTest, BalloonAndRemoveWithoutAnIconFailQuietly) {
  EXPECT_FALSE(ShowTrayBalloon("text", "title", 1, 1000));
  RemoveTrayIcon();
  ASSERT_EQ(standin::Shell32().calls.size(), 1u);  // an empty record is not sent to be deleted
  EXPECT_EQ(standin::Shell32().calls[0].record.hWnd, nullptr);
  EXPECT_TRUE(standin::Shell32().icons.empty());
}

TEST_F(TrayIconTest, RemovingTwiceLeavesNoIcon) {
  AddTrayIcon(window_, kModule, "tip");
  RemoveTrayIcon();
  RemoveTrayIcon();
  ASSERT_EQ(standin::Shell32().calls.size(), 3u);
  EXPECT_TRUE(standin::Shell32().calls[1].result);
  EXPECT_FALSE(standin::Shell32().calls[2].result);
  EXPECT_EQ(standin::Shell32().calls[2].record.hWnd, window_);  // the record keeps its identity
  EXPECT_TRUE(standin::Shell32().icons.empty());
  EXPECT_FALSE(ShowTrayBalloon("late", "late", 1, 1000));
}

}  // namespace
