// The whole install sequence against the stand-in: for every way a run
// can end, the run status, the boxes, the pings, whether the package ran,
// and that nothing is left allocated or open.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/installer.h"
#include "standin/standin.h"
#include "standin/win32.h"
#include "ui/progress_window.h"

namespace {

constexpr const char* kSilent = "/s";
constexpr const char* kInteractive = "/u";
const char kCanonicalUrl[] = "http://packages.test/ext/common/Vexo/vexo_303.exe";
const char kCachePath[] = "C:\\cache\\vexo_303[1].exe";

struct Box {
  UINT stringId;  // 0: a formatted text, see text
  UINT icon;
  std::string insert;  // for the formatted boxes
};

std::string Shipped(UINT id) { return standin::Ansi(standin::Kernel32().strings.at(id)); }

std::vector<std::string> PingTypes() {
  std::vector<std::string> types;
  for (const auto& r : standin::Wininet().requests) {
    size_t at = r.url.rfind("type=");
    types.push_back(at == std::string::npos ? "?" : r.url.substr(at + 5));
  }
  return types;
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressWindow::Release();
    standin::Reset();
    standin::LoadShippedStrings();
    standin::RegisterAdvapi32();
    standin::Urlmon().cachePath = kCachePath;
  }
  void TearDown() override { ProgressWindow::Release(); }

  DWORD Run(const char* mode, int option = kOptionNone, const char* commandLine = "") {
    commandLine_ = commandLine;
    return RunInstaller(reinterpret_cast<HINSTANCE>(0x400000), &commandLine_[0], mode, option);
  }

  // Nothing of the run is left: buffers, handles, libraries, SIDs, and in
  // the interactive modes the controller itself.
  void ExpectAllReleased(const std::string& row) {
    EXPECT_EQ(0, standin::OutstandingAllocations()) << row;
    EXPECT_EQ(0, standin::OutstandingHandles()) << row;
    EXPECT_EQ(0, standin::OutstandingLibraries()) << row;
    EXPECT_EQ(0, standin::OutstandingSids()) << row;
  }

  void ExpectBoxes(const std::string& row, const std::vector<Box>& expected, HWND owner) {
    const auto& boxes = standin::User32().boxes;
    ASSERT_EQ(expected.size(), boxes.size()) << row;
    for (size_t i = 0; i < expected.size(); ++i) {
      std::string text = Shipped(expected[i].stringId);
      size_t at = text.find("%1");
      if (at != std::string::npos) text.replace(at, 2, expected[i].insert);
      EXPECT_EQ(standin::Utf8(text), standin::Utf8(boxes[i].text)) << row << " box " << i;
      EXPECT_EQ(MB_OK | expected[i].icon, boxes[i].type) << row << " box " << i;
      EXPECT_EQ(Shipped(103), boxes[i].caption) << row << " box " << i;
      EXPECT_EQ(owner, boxes[i].owner) << row << " box " << i;
    }
  }

  std::string commandLine_;
};

// One row of the failure table, driven in the silent mode and in an
// interactive mode whose window could not be created.
struct Row {
  const char* name;
  std::function<void()> script;
  DWORD status;
  std::vector<Box> interactiveBoxes;  // the silent mode never shows one
  std::vector<std::string> pings;
  bool launched;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"module path unreadable", [] { standin::Kernel32().moduleFileNameError = 5; }, 5, {}, {}, false},
      {"Windows 98", [] {
         standin::Kernel32().win9x = true;
         standin::Kernel32().major = 4;
         standin::Kernel32().minor = 10;
       },
       ERROR_INSTALL_FAILURE, {}, {}, false},
      {"Windows 2000 SP2", [] {
         standin::Kernel32().major = 5;
         standin::Kernel32().minor = 0;
         standin::Kernel32().servicePack = 2;
       },
       ERROR_INSTALL_FAILURE, {}, {}, false},
      {"another setup running",
       [] { standin::Kernel32().mutexes["Global\\_MSISETUP_{448B91C6-AEEF-4256-8DBB-C153FA377FEE}"] = 1; },
       ERROR_INSTALL_ALREADY_RUNNING, {}, {}, false},
      {"setup mutex denied",
       [] {
         standin::Kernel32().deniedMutexes.push_back("Global\\_MSISETUP_{448B91C6-AEEF-4256-8DBB-C153FA377FEE}");
       },
       ERROR_INSTALL_ALREADY_RUNNING, {}, {}, false},
      {"operation lookup out of memory", [] { standin::Heap().failCalls = {2}; }, ERROR_OUTOFMEMORY,
       {{108, MB_ICONHAND, ""}}, {}, false},
      {"no memory for DEFAULT", [] { standin::Heap().failCalls = {3}; }, ERROR_RESOURCE_NAME_NOT_FOUND,
       {{108, MB_ICONHAND, ""}}, {}, false},
      {"product-name lookup out of memory", [] { standin::Heap().failCalls = {4}; }, ERROR_OUTOFMEMORY,
       {{108, MB_ICONHAND, ""}}, {}, false},
      {"no memory for the default product name", [] { standin::Heap().failCalls = {5}; },
       ERROR_RESOURCE_NAME_NOT_FOUND, {{108, MB_ICONHAND, ""}}, {}, false},
      {"not an administrator", [] { standin::Advapi32().member = false; }, ERROR_INSTALL_FAILURE,
       {{119, MB_ICONHAND, ""}}, {}, false},
      {"no memory for the composed URL", [] { standin::Heap().failSizes = {50}; }, ERROR_OUTOFMEMORY,
       {{108, MB_ICONHAND, ""}}, {}, false},
      {"no memory for the canonical URL", [] { standin::Heap().failSizes = {100}; }, ERROR_OUTOFMEMORY,
       {{108, MB_ICONHAND, ""}}, {}, false},
      {"canonicaliser error", [] { standin::Wininet().canonicalizeErrors = {12005}; }, 12005,
       {{113, MB_ICONHAND, "http://packages.test/ext/common/Vexo/vexo_303.exe"}}, {}, false},
      {"no memory for the cache file name", [] { standin::Heap().failSizes = {260}; }, ERROR_OUTOFMEMORY,
       {{108, MB_ICONHAND, ""}}, {}, false},
      {"download failed", [] { standin::Urlmon().result = static_cast<HRESULT>(0x800C0005); },
       ERROR_FILE_NOT_FOUND, {{123, MB_ICONHAND, kCanonicalUrl}}, {"start", "failed"}, false},
      {"package ran, exit code 0", [] {}, 0, {}, {"start", "finished"}, true},
      {"package ran, exit code 3", [] { standin::Kernel32().processExitCode = 3; }, 3, {}, {"start", "finished"},
       true},
      {"download reports S_FALSE", [] { standin::Urlmon().result = S_FALSE; }, 0, {}, {"start", "finished"}, true},
      {"package cannot start", [] { standin::Kernel32().createProcessError = ERROR_FILE_NOT_FOUND; },
       ERROR_FILE_NOT_FOUND, {}, {"start", "finished"}, true},
      {"ping server unreachable", [] { standin::Wininet().openUrlError = 12029; }, 0, {}, {"start", "finished"},
       true},
  };
  return rows;
}

TEST_F(InstallerTest, FailureTableSilent) {
  for (const Row& row : Rows()) {
    SetUp();
    row.script();
    EXPECT_EQ(row.status, Run(kSilent)) << row.name;
    EXPECT_TRUE(standin::User32().boxes.empty()) << row.name << ": a box in the silent mode";
    EXPECT_EQ(row.pings, PingTypes()) << row.name;
    EXPECT_EQ(row.launched, !standin::Events().empty() && [] {
      for (const auto& e : standin::Events())
        if (e.what == "CreateProcessA") return true;
      return false;
    }()) << row.name;
    EXPECT_TRUE(standin::Shell32().calls.empty()) << row.name << ": the tray was touched";
    ExpectAllReleased(row.name);
  }
}

TEST_F(InstallerTest, FailureTableInteractiveWithoutWindow) {
  for (const Row& row : Rows()) {
    SetUp();
    row.script();
    EXPECT_EQ(row.status, Run(kInteractive)) << row.name;
    ExpectBoxes(row.name, row.interactiveBoxes, nullptr);
    EXPECT_EQ(row.pings, PingTypes()) << row.name;
    ExpectAllReleased(row.name);
  }
}

HWND ProgressDialog() {
  auto dialogs = standin::WindowsOfClass("#32770");
  return dialogs.empty() ? nullptr : dialogs[0];
}

std::vector<DWORD> TrayMessages() {
  std::vector<DWORD> messages;
  for (const auto& c : standin::Shell32().calls) messages.push_back(c.message);
  return messages;
}

TEST_F(InstallerTest, FailureTableInteractiveWithWindow) {
  for (const Row& row : Rows()) {
    SetUp();
    standin::AddProgressDialog();
    row.script();
    EXPECT_EQ(row.status, Run(kInteractive)) << row.name;
    if (row.launched) {
      EXPECT_EQ(nullptr, ProgressDialog()) << row.name << ": the window outlived the download";
    } else if (row.status != 5) {
      EXPECT_NE(nullptr, ProgressDialog()) << row.name << ": the window stays until the process ends";
    }
    ExpectBoxes(row.name, row.interactiveBoxes, ProgressDialog());
    EXPECT_EQ(row.pings, PingTypes()) << row.name;
    EXPECT_EQ(0, standin::OutstandingGdiObjects()) << row.name;
    EXPECT_EQ(0, standin::OutstandingDCs()) << row.name;
    ExpectAllReleased(row.name);
  }
}

TEST_F(InstallerTest, WindowClosedBeforeThePackageStarts) {
  standin::AddProgressDialog();
  standin::Urlmon().notifications = {{BINDSTATUS_BEGINDOWNLOADDATA, 0, 100},
                                     {BINDSTATUS_DOWNLOADINGDATA, 50, 100},
                                     {BINDSTATUS_ENDDOWNLOADDATA, 100, 100}};
  EXPECT_EQ(0u, Run(kInteractive));
  std::vector<std::string> order;
  for (const auto& e : standin::Events())
    if (e.what == "CreateDialogParamA" || e.what == "DestroyWindow" || e.what == "CreateProcessA") order.push_back(e.what);
  EXPECT_EQ((std::vector<std::string>{"CreateDialogParamA", "DestroyWindow", "CreateProcessA"}), order);
  // Added, the completion balloon, removed by Close, then the release and
  // the driver's own removal, which find nothing left.
  const std::vector<DWORD> tray = {NIM_ADD, NIM_MODIFY, NIM_DELETE, NIM_DELETE, NIM_DELETE};
  EXPECT_EQ(tray, TrayMessages());
  EXPECT_TRUE(standin::Shell32().icons.empty());
  EXPECT_TRUE(standin::User32().boxes.empty());
  ExpectAllReleased("window closed");
}

TEST_F(InstallerTest, CancelSites) {
  // Cancel clicked at each point where the run looks at it: the cancelled
  // box owned by the window, 1602, no package, and only the pings before.
  struct Case {
    const char* name;
    std::function<void()> script;
    std::vector<std::string> pings;
  } cases[] = {
      {"before the first status line", [] { ProgressWindow::Instance()->Cancel(); }, {}},
      {"during the Administrators check",
       [] {
         static BOOL(WINAPI * check)(HANDLE, PSID, PBOOL) = [](HANDLE, PSID, PBOOL member) -> BOOL {
           ProgressWindow::Instance()->Cancel();
           *member = TRUE;
           return TRUE;
         };
         standin::Library advapi;
         advapi.procs["CheckTokenMembership"] = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(check));
         standin::RegisterLibrary("advapi32.dll", advapi);
       },
       {}},
      {"during the download",
       [] {
         standin::Urlmon().notifications = {{BINDSTATUS_BEGINDOWNLOADDATA, 0, 100},
                                            {BINDSTATUS_DOWNLOADINGDATA, 50, 100},
                                            {BINDSTATUS_ENDDOWNLOADDATA, 100, 100}};
         standin::Urlmon().beforeNotification = [](size_t i) {
           if (i == 1) ProgressWindow::Instance()->Cancel();
         };
       },
       {"start"}},
      {"after the data, the download still succeeding",
       [] {
         standin::Urlmon().notifications = {{BINDSTATUS_BEGINDOWNLOADDATA, 0, 100}};
         standin::Urlmon().beforeNotification = [](size_t) { ProgressWindow::Instance()->Cancel(); };
         standin::Urlmon().result = S_OK;
       },
       {"start"}},
  };
  for (const auto& c : cases) {
    SetUp();
    standin::AddProgressDialog();
    c.script();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_USEREXIT), Run(kInteractive)) << c.name;
    ExpectBoxes(c.name, {{112, MB_ICONEXCLAMATION, ""}}, ProgressDialog());
    EXPECT_EQ(c.pings, PingTypes()) << c.name;
    EXPECT_TRUE(standin::Kernel32().processes.empty()) << c.name;
    if (!c.pings.empty()) {
      EXPECT_EQ(std::vector<std::string>{kCanonicalUrl}, standin::Wininet().deletedCacheEntries) << c.name;
    }
    ExpectAllReleased(c.name);
  }
}

TEST_F(InstallerTest, PackageCommandLineAndCacheEntry) {
  struct Case {
    const char* name;
    const char* mode;
    std::string commandLine;
  } cases[] = {
      {"/s", "/s", std::string("\"") + kCachePath + "\" /norestart /S"},
      {"/s /u", "/s /u", std::string("\"") + kCachePath + "\" /norestart"},
      {"/u", "/u", std::string("\"") + kCachePath + "\" /norestart"},
      {"/u /s", "/u /s", std::string("\"") + kCachePath + "\" /norestart /S"},
      {"upper case is unknown", "/S", std::string("\"") + kCachePath + "\" /norestart"},
      {"extra blank is unknown", "/s ", std::string("\"") + kCachePath + "\" /norestart"},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(0u, Run(c.mode)) << c.name;
    ASSERT_EQ(1u, standin::Kernel32().processes.size()) << c.name;
    EXPECT_EQ(c.commandLine, standin::Kernel32().processes[0].commandLine) << c.name;
    ASSERT_EQ(1u, standin::Urlmon().calls.size()) << c.name;
    EXPECT_EQ(kCanonicalUrl, standin::Urlmon().calls[0].url) << c.name;
    EXPECT_EQ(std::vector<std::string>{kCanonicalUrl}, standin::Wininet().deletedCacheEntries) << c.name;
    ExpectAllReleased(c.name);
  }
}

TEST_F(InstallerTest, SilentDownloadHasNoCallback) {
  Run(kSilent);
  ASSERT_EQ(1u, standin::Urlmon().calls.size());
  EXPECT_FALSE(standin::Urlmon().calls[0].callbackGiven);
  Run(kInteractive);
  ASSERT_EQ(2u, standin::Urlmon().calls.size());
  EXPECT_TRUE(standin::Urlmon().calls[1].callbackGiven);
}

TEST_F(InstallerTest, OrderOfPingsDownloadAndLaunch) {
  Run(kSilent);
  std::vector<std::string> order;
  for (const auto& e : standin::Events())
    if (e.what == "ping" || e.what == "download" || e.what == "CreateProcessA" || e.what == "DeleteUrlCacheEntryA" ||
        e.what == "CreateMutexA")
      order.push_back(e.what);
  const std::vector<std::string> expected = {"CreateMutexA", "ping", "download", "ping", "CreateProcessA",
                                             "DeleteUrlCacheEntryA"};
  EXPECT_EQ(expected, order);
}

TEST_F(InstallerTest, RestartPrompt) {
  struct Case {
    const char* name;
    DWORD exitCode;
    int answer;
    bool prompted;
    bool restarted;
  } cases[] = {
      {"3010 answered No", ERROR_SUCCESS_REBOOT_REQUIRED, IDNO, true, false},
      {"3010 answered Yes", ERROR_SUCCESS_REBOOT_REQUIRED, IDYES, true, true},
      {"0 asks nothing", 0, IDYES, false, false},
      {"1641 asks nothing", 1641, IDYES, false, false},
  };
  for (const auto& c : cases) {
    for (const char* mode : {kSilent, kInteractive}) {
      SetUp();
      standin::Kernel32().processExitCode = c.exitCode;
      standin::User32().boxAnswers = {c.answer};
      EXPECT_EQ(c.exitCode, Run(mode)) << c.name << " " << mode;
      const auto& boxes = standin::User32().boxes;
      ASSERT_EQ(c.prompted ? 1u : 0u, boxes.size()) << c.name << " " << mode;
      if (c.prompted) {
        EXPECT_EQ(Shipped(106), boxes[0].text) << c.name;
        EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), boxes[0].type) << c.name;
        EXPECT_EQ(nullptr, boxes[0].owner) << c.name;
      }
      const auto& exits = standin::User32().exitWindowsCalls;
      ASSERT_EQ(c.restarted ? 1u : 0u, exits.size()) << c.name << " " << mode;
      if (c.restarted) {
        EXPECT_EQ(static_cast<UINT>(EWX_REBOOT), exits[0].first) << c.name;
        EXPECT_EQ(0x84040002u, exits[0].second) << c.name;
        ASSERT_EQ(1u, standin::Advapi32().lookedUpPrivileges.size()) << c.name;
        EXPECT_EQ("SeShutdownPrivilege", standin::Advapi32().lookedUpPrivileges[0]) << c.name;
      }
      ExpectAllReleased(c.name);
    }
  }
}

TEST_F(InstallerTest, Options) {
  struct Case {
    const char* name;
    const char* mode;
    int option;
    const char* commandLine;
    DWORD status;
    bool usageBox;
    bool downloaded;
  } cases[] = {
      {"help, silent", kSilent, kOptionHelp, "/?", 0, true, false},
      {"help, interactive", kInteractive, kOptionHelp, "", 0, true, false},
      {"verify without a path, silent", kSilent, kOptionVerify, "/v", ERROR_BAD_ARGUMENTS, true, false},
      {"verify with two paths", kInteractive, kOptionVerify, "/v a.exe b.exe", ERROR_BAD_ARGUMENTS, true, false},
      {"verify without trust libraries", kSilent, kOptionVerify, "/v \"C:\\a b\\c.exe\"", 0x800B0001u, false,
       false},
      {"admin alone, silent", kSilent, kOptionAdmin, "/a", 0, false, true},
      {"admin with a path, silent", kSilent, kOptionAdmin, "/a C:\\x", ERROR_BAD_ARGUMENTS, false, false},
      {"admin with a path, interactive", kInteractive, kOptionAdmin, "/a C:\\x", ERROR_BAD_ARGUMENTS, true, false},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(c.status, Run(c.mode, c.option, c.commandLine)) << c.name;
    const auto& boxes = standin::User32().boxes;
    ASSERT_EQ(c.usageBox ? 1u : 0u, boxes.size()) << c.name;
    if (c.usageBox) {
      EXPECT_EQ(Shipped(105), boxes[0].text) << c.name;
      EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONASTERISK), boxes[0].type) << c.name;
      EXPECT_EQ(nullptr, boxes[0].owner) << c.name;
    }
    EXPECT_EQ(c.downloaded, !standin::Urlmon().calls.empty()) << c.name;
    ExpectAllReleased(c.name);
  }
}

TEST_F(InstallerTest, FirstStatusLineUsesTheProductName) {
  // The window is the one that draws it; without one the text is still
  // formatted with the default product name and the run goes on.
  standin::AddResource(MAKEINTRESOURCEA(40), "PRODUCTNAME", std::string("V\0e\0x\0o\0\0\0", 10));
  EXPECT_EQ(0u, Run(kSilent));
  ExpectAllReleased("product name resource");
}

TEST_F(InstallerTest, OutOfMemoryForTheControllerEndsTheRun) {
  // The controller is the first object of the run; without memory for it
  // the run ends cleanly with 14 and shows nothing, whatever the mode.
  standin::Heap().failCalls = {1};
  EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), Run(kInteractive));
  EXPECT_TRUE(standin::User32().boxes.empty());
  EXPECT_TRUE(standin::Wininet().requests.empty());
  ExpectAllReleased("controller");
}

TEST_F(InstallerTest, EveryAllocationFailureEndsCleanly) {
  // Count the allocations of a good run, then fail each in turn: every run
  // ends with a status, shows at most one box and releases everything.
  Run(kInteractive);
  const int allocations = standin::Heap().calls;
  ASSERT_GT(allocations, 5);
  for (int n = 1; n <= allocations; ++n) {
    SetUp();
    standin::Heap().failCalls = {n};
    Run(kInteractive);
    EXPECT_LE(standin::User32().boxes.size(), 1u) << "allocation " << n;
    ExpectAllReleased("allocation " + std::to_string(n));
  }
}

}  // namespace
