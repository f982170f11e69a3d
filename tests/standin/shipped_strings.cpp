// The installer's string table as the resource script ships it, in UTF-8;
// LoadStringA hands the texts out in code page 936. Trailing blanks are
// part of the texts.
#include <string>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {

void LoadShippedStrings() {
  auto blanks = [](size_t n) { return std::string(n, ' '); };
  std::map<UINT, std::string>& s = Kernel32().strings;
  s[103] = "Vexo影音在线安装";
  s[104] = "取消";
  s[105] =
      "说明：\n"
      "   /? :  显示此对话框\n"
      "   /a :  使用管理员权限进行安装.\n"
      "   /a <对已存在完整路径使用管理员权限进行安装> :  .\n"
      "   /v <文件完整路径> :  使用文件默认的权限验证。\n"
      "\"";
  s[106] = "请重新启动您的电脑以使更改生效。 按确定重启电脑，手动重启请按取消。";
  s[107] = "程序运行期间发生了一个致命的内部错误！";
  s[108] = "内存溢出" + blanks(51);
  s[109] = "Vexo影音在线安装";
  s[110] = "Vexo影音安装包";
  s[111] = "%s正在下载，请耐心等待...";
  s[112] = "Vexo影音安装已被取消。" + blanks(29);
  s[113] = "路径'%1'无效。";
  s[114] = "安装程序无法找到安装文件'%1'。";
  s[115] = "正在下载Vexo影音安装包..." + blanks(18);
  s[116] = "此版本程序不支持数字签名。" + blanks(17);
  s[117] = "Vexo影音安装已被取消。" + blanks(29);
  s[118] = "安装程序无法升级程序包";
  s[119] = "运行程序需要管理员权限" + blanks(29);
  s[120] = "准备下载Vexo影音安装包，是否继续？";
  s[121] = "资源ID'%s'未找到。" + blanks(33);
  s[122] = "正在下载安装包'%s'...";
  s[123] = "安装程序无法找到包'%1'。";
  s[124] = "正在验证数字签名'%s'";
  s[125] = "下载完成。";
  s[126] = "http://packages.test/ext/common/Vexo";
  s[127] = "vexo_303.exe";
}

}  // namespace standin
