#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "driver/package_launch.h"
#include "standin/standin.h"

namespace {

class PackageLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { standin::Reset(); }
};

const char kPath[] = "C:\\Temp\\Cache\\vexo_303[1].exe";

struct RunCase {
  const char* name;
  std::string path;
  bool silent;
  DWORD createError;
  DWORD exitCode;
  bool exitCodeFails;
  int failAllocation;  // ordinal, 0 none
  std::deque<DWORD> waits;
  DWORD waitError;
  DWORD result;
  std::string commandLine;  // "" when no process starts
};

TEST_F(PackageLaunchTest, RunPackage) {
  const std::string quoted = "\"C:\\Temp\\Cache\\vexo_303[1].exe\"";
  const std::string chinese = standin::Ansi("C:\\下载\\安装包.exe");
  const RunCase cases[] = {
      {"package-silent", kPath, true, 0, 0, false, 0, {}, 0, 0, quoted + " /norestart /S"},
      {"not package-silent", kPath, false, 0, 0, false, 0, {}, 0, 0, quoted + " /norestart"},
      {"path with blanks", "C:\\Documents and Settings\\me\\vexo.exe", true, 0, 0, false, 0, {}, 0, 0,
       "\"C:\\Documents and Settings\\me\\vexo.exe\" /norestart /S"},
      {"double-byte path", chinese, false, 0, 0, false, 0, {}, 0, 0, "\"" + chinese + "\" /norestart"},
      {"package exits with 3", kPath, true, 0, 3, false, 0, {}, 0, 3, quoted + " /norestart /S"},
      {"package asks for a restart", kPath, true, 0, 3010, false, 0, {}, 0, 3010, quoted + " /norestart /S"},
      {"exit code unreadable", kPath, true, 0, 3, true, 0, {}, 0, 0, quoted + " /norestart /S"},
      {"input, then the end", kPath, true, 0, 3, false, 0, {1, 1, 0}, 0, 3, quoted + " /norestart /S"},
      {"wait fails", kPath, true, 0, 3, false, 0, {WAIT_FAILED}, ERROR_INVALID_HANDLE, 6, quoted + " /norestart /S"},
      {"wait fails without an error number", kPath, true, 0, 0, false, 0, {WAIT_FAILED}, 0, 1627,
       quoted + " /norestart /S"},
      {"no such file", kPath, true, ERROR_FILE_NOT_FOUND, 0, false, 0, {}, 0, 2, ""},
      {"no memory for the command line", kPath, true, 0, 0, false, 1, {}, 0, 14, ""},
  };
  for (const RunCase& c : cases) {
    standin::Reset();
    standin::Kernel32State& k = standin::Kernel32();
    k.createProcessError = c.createError;
    k.processExitCode = c.exitCode;
    k.getExitCodeFails = c.exitCodeFails;
    if (c.failAllocation) standin::Heap().failCalls.insert(c.failAllocation);
    standin::User32().waitResults = c.waits;
    standin::User32().waitError = c.waitError;

    EXPECT_EQ(c.result, RunPackage(c.path.c_str(), c.silent)) << c.name;
    EXPECT_EQ(0, standin::OutstandingAllocations()) << c.name << ": command line not freed";
    EXPECT_EQ(0, standin::OutstandingHandles()) << c.name << ": handle left open";
    if (c.commandLine.empty()) {
      EXPECT_TRUE(k.processes.empty()) << c.name;
      EXPECT_TRUE(k.closedHandleKinds.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(1u, k.processes.size()) << c.name;
    const standin::CreatedProcess& p = k.processes[0];
    EXPECT_EQ(c.commandLine, p.commandLine) << c.name;
    EXPECT_FALSE(p.applicationNameGiven) << c.name;
    EXPECT_FALSE(p.inheritHandles) << c.name;
    EXPECT_EQ(static_cast<DWORD>(CREATE_DEFAULT_ERROR_MODE), p.creationFlags) << c.name;
    EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), p.startupFlags) << c.name;
    EXPECT_EQ(SW_SHOW, p.showWindow) << c.name;
    EXPECT_EQ(std::vector<std::string>({"process", "thread"}), k.closedHandleKinds) << c.name;
  }
}

TEST_F(PackageLaunchTest, CommandLineBufferHasExactlyTheComposedSize) {
  // Quotes and terminator (3), " /norestart" (11), " /S" (3): an
  // allocation of any other size would go through.
  for (bool silent : {false, true}) {
    standin::Reset();
    standin::Heap().failSizes.insert(strlen(kPath) + 3 + 11 + (silent ? 3 : 0));
    EXPECT_EQ(ERROR_OUTOFMEMORY, RunPackage(kPath, silent)) << (silent ? "silent" : "not silent");
    EXPECT_TRUE(standin::Kernel32().processes.empty());
  }
}

TEST_F(PackageLaunchTest, PumpDispatchesOneMessagePerWakeUpAndGoesOnAfterQuit) {
  standin::User32State& u = standin::User32();
  PostQuitMessage(0);
  PostMessageA(nullptr, 0x0400, 1, 2);
  u.waitResults = {WAIT_OBJECT_0 + 1, WAIT_OBJECT_0};
  HANDLE process = reinterpret_cast<HANDLE>(0x99);

  EXPECT_EQ(0u, WaitWithMessagePump(process));
  EXPECT_EQ(2, u.waitCalls);
  ASSERT_EQ(1u, u.dispatched.size());
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), u.dispatched[0].message);
  EXPECT_EQ(1u, u.translated.size());
  EXPECT_EQ(1u, u.queue.size()) << "only one message per wake-up";
  EXPECT_EQ(static_cast<DWORD>(QS_ALLINPUT), u.lastWakeMask);
  EXPECT_EQ(INFINITE, u.lastWaitMs);
}

}  // namespace
