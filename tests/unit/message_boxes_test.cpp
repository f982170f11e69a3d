#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "driver/message_boxes.h"
#include "standin/standin.h"

namespace {

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(0x400000);
const HWND kOwner = reinterpret_cast<HWND>(0x1234);
const char kCaption[] = "caption";

class MessageBoxesTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { standin::Reset(); }
};

struct BoxCase {
  const char* name;
  std::function<void()> show;
  std::string text;  // UTF-8
  UINT type;
  bool formatFails;
};

TEST_F(MessageBoxesTest, TextIconOwnerAndCaption) {
  const std::string usage =
      "说明：\n   /? :  显示此对话框\n   /a :  使用管理员权限进行安装.\n"
      "   /a <对已存在完整路径使用管理员权限进行安装> :  .\n   /v <文件完整路径> :  使用文件默认的权限验证。\n\"";
  const std::string outOfMemory = "内存溢出" + std::string(51, ' ');
  const BoxCase cases[] = {
      {"cancelled", [] { ShowCancelledMessage(kInstance, kOwner, kCaption); },
       "Vexo影音安装已被取消。" + std::string(29, ' '), 0x30, false},
      {"error 107", [] { ShowErrorMessage(kInstance, kOwner, kCaption, 107); },
       "程序运行期间发生了一个致命的内部错误！", 0x10, false},
      {"error 119", [] { ShowErrorMessage(kInstance, kOwner, kCaption, 119); },
       "运行程序需要管理员权限" + std::string(29, ' '), 0x10, false},
      {"error with a missing string", [] { ShowErrorMessage(kInstance, kOwner, kCaption, 999); }, "", 0x10, false},
      {"out of memory", [] { ShowOutOfMemoryMessage(kInstance, kOwner, kCaption); }, outOfMemory, 0x10, false},
      {"usage", [] { ShowUsageMessage(kInstance, kOwner, kCaption); }, usage, 0x40, false},
      {"formatted 113",
       [] { ShowFormattedErrorMessage(kInstance, kOwner, kCaption, 113, "http://h/ext/common/Vexo/a b.exe"); },
       "路径'http://h/ext/common/Vexo/a b.exe'无效。", 0x10, false},
      {"formatted 123", [] { ShowFormattedErrorMessage(kInstance, kOwner, kCaption, 123, "http://h/a%20b.exe"); },
       "安装程序无法找到包'http://h/a%20b.exe'。", 0x10, false},
      {"formatting fails", [] { ShowFormattedErrorMessage(kInstance, kOwner, kCaption, 123, "http://h/x.exe"); },
       outOfMemory, 0x10, true},
  };
  for (const BoxCase& c : cases) {
    standin::Reset();
    standin::LoadShippedStrings();
    standin::Kernel32().formatMessageFails = c.formatFails;
    c.show();
    ASSERT_EQ(1u, standin::User32().boxes.size()) << c.name;
    const standin::MessageBoxCall& box = standin::User32().boxes[0];
    EXPECT_EQ(standin::Ansi(c.text), box.text) << c.name;
    EXPECT_EQ(c.type, box.type) << c.name;
    EXPECT_EQ(kOwner, box.owner) << c.name;
    EXPECT_EQ(kCaption, box.caption) << c.name;
    EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name << ": formatted text not freed";
  }
}

}  // namespace
