#include "driver/installer.h"

#include "download/download_session.h"
#include "download/held_package.h"
#include "download/package_check.h"
#include "download/package_download.h"
#include "base/bounded_string.h"
#include "base/command_line.h"
#include "base/heap.h"
#include "base/platform_libraries.h"
#include "download/bind_status_callback.h"
#include "base/build_config.h"
#include "driver/message_boxes.h"
#include "driver/package_launch.h"
#include "driver/prerequisites.h"
#include "driver/resource_config.h"
#include "resource_ids.h"
#include "stats/statistics_ping.h"
#include "tests/seam/seam.h"
#include "trust/signature.h"
#include "ui/progress_window.h"
#include "ui/tray_icon.h"

HINSTANCE g_instance = nullptr;
char g_caption[kCaptionChars] = {};

namespace {

// Planned restart for an installation, as the shutdown reason says.
constexpr DWORD kRestartReason = 0x84040002;  // PLANNED | CLEAN_UI | APPLICATION | INSTALLATION
constexpr size_t kDefaultOperationChars = sizeof("DEFAULT");

// The mode string, compared exactly and case-sensitively as the program is
// built: "/s" is silent with a silent package, "/s /u" silent, "/u /s"
// interactive with a silent package, anything else interactive.
constexpr bool SameText(const char* a, const char* b) { return *a == *b && (*a == '\0' || SameText(a + 1, b + 1)); }
constexpr bool kSilentMode = SameText(kModeString, "/s") || SameText(kModeString, "/s /u");
constexpr bool kPackageSilentMode = SameText(kModeString, "/s") || SameText(kModeString, "/u /s");

// Everything one run owns. Slots start null; Cleanup() releases what is
// there, in order, and is the one way out of the run.
class InstallRun {
 public:
  DWORD Run(HINSTANCE instance, LPSTR commandLine) {
    instance_ = instance;
    commandLine_ = commandLine;
    StartUp();
    if (Sequence()) FinishInstall();
    return Cleanup();
  }

 private:
  void StartUp();
  // Runs everything up to the launch; false when the run ends early.
  bool Sequence();
  bool Download();
  void FinishInstall();
  DWORD Cleanup();

  HWND Owner() const { return window_ ? window_->GetWindow() : nullptr; }
  // The window that answers, and whose Cancel ends a ping, while it runs.
  ProgressWindow* PingWindow() const { return kSilentMode ? nullptr : window_; }
  bool Interactive() const { return modeSelected_ && !kSilentMode; }

  bool Fail(DWORD status) {
    status_ = status;
    return false;
  }
  bool ReportError(UINT stringId) {
    if (!kSilentMode) ShowErrorMessage(instance_, Owner(), g_caption, stringId);
    return Fail(ERROR_INSTALL_FAILURE);
  }
  bool ReportOutOfMemory(DWORD status) {
    if (!kSilentMode) ShowOutOfMemoryMessage(instance_, Owner(), g_caption);
    return Fail(status);
  }
  bool ReportCancelled() {
    if (!kSilentMode) ShowCancelledMessage(instance_, Owner(), g_caption);
    return Fail(ERROR_INSTALL_USEREXIT);
  }
  // The "failed" ping, the box of stringId with the package's URL, status.
  bool ReportDownloadFailed(UINT stringId, DWORD status) {
    SendStatisticsPing(kStatisticsFailed, PingWindow());
    if (!kSilentMode) ShowFormattedErrorMessage(instance_, Owner(), g_caption, stringId, canonicalUrl_);
    return Fail(status);
  }
  // Formats string formatId with one text into statusText_ and hands it to
  // the window; false when the user has cancelled.
  bool ShowStatusText(UINT formatId, const char* argument, bool draw);

  HINSTANCE instance_ = nullptr;
  LPSTR commandLine_ = nullptr;

  DWORD status_ = 0;
  bool modeSelected_ = false;
  bool restartRequired_ = false;
  ProgressWindow* window_ = nullptr;

  char packageBaseUrl_[kTextChars] = {};
  char packageFileName_[kPathChars] = {};
  char modulePath_[kPathChars] = {};
  char format_[kShortTextChars] = {};
  char statusLine_[kTextChars] = {};
  char statusText_[kTextChars] = {};

  char* operation_ = nullptr;
  char* productName_ = nullptr;
  char* composedUrl_ = nullptr;
  DWORD composedSize_ = 0;
  char* canonicalUrl_ = nullptr;
  HeldPackage* held_ = nullptr;           // the package's private copy, from the download's end
  PackageDownload* download_ = nullptr;  // holds the cache file name
  HANDLE mutex_ = nullptr;
};

void InstallRun::StartUp() {
  // Before anything else is loaded: nothing from the program's folder.
  RestrictLibrarySearch();

  LoadStringA(instance_, IDS_PACKAGE_BASE_URL, packageBaseUrl_, sizeof packageBaseUrl_);
  LoadStringA(instance_, IDS_PACKAGE_FILE_NAME, packageFileName_, sizeof packageFileName_);
  ZeroTrayIcon();

  g_instance = instance_;
  LoadStringA(instance_, IDS_CAPTION, g_caption, sizeof g_caption);
}

bool InstallRun::ShowStatusText(UINT formatId, const char* argument, bool draw) {
  char* target = draw ? statusLine_ : statusText_;
  LoadStringA(instance_, formatId, format_, sizeof format_);
  BoundedFormat(target, kTextChars, format_, argument);  // a cut text is still shown
  // The silent modes have no window: the text is drawn nowhere (-1).
  int shown = kSilentMode ? -1 : draw ? window_->ShowStatus(target) : window_->SetStatusText(target);
  return shown != 1;
}

bool InstallRun::Sequence() {
  window_ = ProgressWindow::Instance();
  if (!window_) return Fail(ERROR_OUTOFMEMORY);  // the mode is not known yet: no box

  DWORD length = GetModuleFileNameA(instance_, modulePath_, sizeof modulePath_);
  if (length == 0) return Fail(GetLastError());
  if (length >= sizeof modulePath_) {
    // A cut path names another file; older systems do not even terminate it.
    modulePath_[sizeof modulePath_ - 1] = '\0';
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }

  // The mode's flags are the build's (kSilentMode, kPackageSilentMode).
  modeSelected_ = true;

  if (kOptionSelector == kOptionVerify) {
    status_ = RunVerifyOption(modulePath_, commandLine_);
    if (status_ != ERROR_BAD_ARGUMENTS) return false;
  }
  // The verify option comes here only with bad arguments (status 160).
  if (kOptionSelector == kOptionVerify || kOptionSelector == kOptionHelp) {
    ShowUsageMessage(instance_, nullptr, g_caption);
    return false;
  }

  if (!kSilentMode) window_->Create(instance_, nullptr, g_caption);

  if (!IsSupportedOs()) return Fail(ERROR_INSTALL_FAILURE);
  if (IsAnotherSetupRunning(&mutex_)) return Fail(ERROR_INSTALL_ALREADY_RUNNING);

  status_ = LoadResourceProperty(instance_, "OPERATION", &operation_, 0);
  if (status_ == ERROR_OUTOFMEMORY) return ReportOutOfMemory(ERROR_OUTOFMEMORY);
  if (status_ != 0) {
    FreeSlot(operation_);
    operation_ = AllocateChars(kDefaultOperationChars);
    if (!operation_) return ReportOutOfMemory(status_);
    if (FAILED(BoundedCopy(operation_, kDefaultOperationChars, "DEFAULT"))) return ReportError(IDS_INTERNAL_ERROR);
  }

  status_ = LoadResourceProperty(instance_, "PRODUCTNAME", &productName_, 0);
  if (status_ == ERROR_OUTOFMEMORY) return ReportOutOfMemory(ERROR_OUTOFMEMORY);
  if (status_ != 0) {
    FreeSlot(productName_);
    productName_ = AllocateChars(kShortTextChars);
    if (!productName_) return ReportOutOfMemory(status_);
    LoadStringA(instance_, IDS_DEFAULT_PRODUCT, productName_, kShortTextChars);
  }

  if (!ShowStatusText(IDS_STATUS_DOWNLOADING, productName_, true)) return ReportCancelled();

  if (kOptionSelector == kOptionAdmin) {
    status_ = ParseAdminOption(commandLine_);
    if (status_ == ERROR_BAD_ARGUMENTS) {
      if (!kSilentMode) ShowUsageMessage(instance_, Owner(), g_caption);
      return false;
    }
  }

  if (!IsAdministrator()) return ReportError(IDS_ADMIN_REQUIRED);
  return Download();
}

bool InstallRun::Download() {
  DWORD error = ComposeUrl(packageBaseUrl_, packageFileName_, &composedUrl_, &composedSize_);
  if (error == ERROR_OUTOFMEMORY) return ReportOutOfMemory(ERROR_OUTOFMEMORY);
  if (error != 0) return ReportError(IDS_INTERNAL_ERROR);

  bool outOfMemory = false;
  error = CanonicalizeUrl(composedUrl_, composedSize_, &canonicalUrl_, &outOfMemory);
  if (outOfMemory) return ReportOutOfMemory(ERROR_OUTOFMEMORY);
  // Any error of the canonicaliser itself, 14 included, names the URL.
  if (error != 0) {
    if (!kSilentMode) ShowFormattedErrorMessage(instance_, Owner(), g_caption, IDS_INVALID_PATH, composedUrl_);
    return Fail(error);
  }

  if (!kSilentMode && !ShowStatusText(IDS_STATUS_PACKAGE, packageFileName_, false)) return ReportCancelled();

  held_ = CreateHeldPackage();
  if (held_) download_ = CreatePackageDownload(canonicalUrl_);
  if (!download_) return ReportOutOfMemory(ERROR_OUTOFMEMORY);

  SendStatisticsPing(kStatisticsStart, PingWindow());
  // Cancelled during the ping: the package is never asked for.
  if (!kSilentMode && window_->IsCancelled()) return ReportCancelled();
  // Stalled, cut short, redirected too often: a failed download like any
  // other. Cancel works in every state of the download.
  // The interactive modes' callback lives for the download call only; the
  // silent modes pass none (and a test build may pass none in any mode).
  HRESULT result;
  if (kSilentMode || SeamUnwatchedDownload()) {
    result = RunPackageDownload(download_, nullptr);
  } else {
    CDownloadBindStatusCallback progress(window_);
    result = RunPackageDownload(download_, &progress);
  }

  if (!kSilentMode && window_->IsCancelled()) return ReportCancelled();
  // What runs as administrator is a copy of what was downloaded, in a
  // folder of this run's own that only administrators can write, held
  // open from here until it has run; every check reads that copy. A copy
  // that cannot be made is a failed download. Only a Windows program is a
  // package: a login or notice page answered with status 200, or an empty
  // body, is a failed download too.
  if (FAILED(result) || !HoldPackage(held_, TrailOf(download_), packageFileName_) || !IsWindowsProgram(held_->copy))
    return ReportDownloadFailed(IDS_PACKAGE_NOT_FOUND, ERROR_FILE_NOT_FOUND);
  // Builds that pin the package's digest or its signer refuse it here,
  // before the outcome is reported: as a failed download, with a text of
  // its own.
  DWORD refusal = CheckPackageDigest(held_->copy);
  if (refusal != ERROR_SUCCESS) return ReportDownloadFailed(IDS_PACKAGE_BAD_DIGEST, refusal);
  refusal = CheckPackageSigner(held_->copyPath, held_->copy);
  if (refusal != ERROR_SUCCESS) return ReportDownloadFailed(IDS_PACKAGE_NOT_TRUSTED, refusal);
  SendStatisticsPing(kStatisticsFinished, PingWindow());
  if (!kSilentMode && !ShowStatusText(IDS_STATUS_VERIFYING, packageFileName_, false)) return ReportCancelled();
  return true;
}

void InstallRun::FinishInstall() {
  if (!kSilentMode) window_->Close();
  // The package's own outcome is the run's: its exit code, or why it could
  // not be started.
  status_ = RunPackage(held_->copyPath, kPackageSilentMode, held_->folderPath, held_->tempPath);
  if (status_ == ERROR_SUCCESS_REBOOT_REQUIRED) restartRequired_ = true;
}

DWORD InstallRun::Cleanup() {
  // The controller exists in every mode; releasing it in the silent ones
  // too leaves nothing behind.
  ProgressWindow::Release();
  window_ = nullptr;
  if (Interactive()) RemoveTrayIcon();
  if (download_) {
    RemoveHeldPackage(held_, TrailOf(download_));
    held_ = nullptr;
    ReleasePackageDownload(download_);
    download_ = nullptr;
  }
  FreeSlot(held_);
  FreeSlot(canonicalUrl_);
  FreeSlot(composedUrl_);
  FreeSlot(productName_);
  FreeSlot(operation_);
  if (mutex_) {
    CloseHandle(mutex_);
    mutex_ = nullptr;
  }
  ReleasePlatformLibraries();
  if (restartRequired_) {
    LoadStringA(instance_, IDS_RESTART_PROMPT, statusText_, sizeof statusText_);
    if (MessageBoxA(nullptr, statusText_, g_caption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
      EnableShutdownPrivilege();
      ExitWindowsEx(EWX_REBOOT, kRestartReason);
    }
  }
  return status_;
}

}  // namespace

DWORD ParseAdminOption(char* commandLine) {
  char* rest = AfterFirstCommandLineToken(commandLine);
  if (!rest || NextCommandLineToken(rest, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS) return ERROR_BAD_ARGUMENTS;
  return 0;
}

DWORD RunInstaller(HINSTANCE instance, LPSTR commandLine) {
  char empty[1] = "";
  // Value-initialised: the whole record (4 KB of buffers) is cleared in one go.
  InstallRun run{};
  return run.Run(instance, commandLine ? commandLine : empty);
}
