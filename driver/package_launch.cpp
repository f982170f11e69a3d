#include "driver/package_launch.h"

#include "base/last_error.h"
#include "base/bounded_string.h"
#include "base/heap.h"

namespace {

const char kNoRestart[] = " /norestart";
const char kSilent[] = " /S";

}  // namespace

DWORD WaitWithMessagePump(HANDLE process) {
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return 0;
    if (woken != WAIT_OBJECT_0 + 1) return LastErrorOfFailure();
    // One message per wake-up; WM_QUIT is dispatched like any other.
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

DWORD RunPackage(const char* path, bool packageSilent, const char* folder, const char* temp) {
  // "path" /norestart [/S], the quotes and the terminator included.
  size_t size = static_cast<size_t>(lstrlenA(path)) + (sizeof kNoRestart - 1) + 3;
  if (packageSilent) size += sizeof kSilent - 1;

  DWORD result = 0;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};

  char* commandLine = AllocateChars(size);
  if (!commandLine) {
    result = ERROR_OUTOFMEMORY;
  } else if (FAILED(BoundedFormat(commandLine, size, "\"%s\"%s%s", path, kNoRestart, packageSilent ? kSilent : ""))) {
    result = ERROR_INSTALL_FAILURE;
  } else if (!SetEnvironmentVariableA("TEMP", temp) || !SetEnvironmentVariableA("TMP", temp) ||
             !CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, folder,
                             &startup, &process)) {
    result = LastErrorOfFailure();
  } else {
    result = WaitWithMessagePump(process.hProcess);
    if (result == 0) {
      DWORD exitCode = 0;
      if (GetExitCodeProcess(process.hProcess, &exitCode)) result = exitCode;
    }
  }

  FreeBuffer(commandLine);
  if (process.hProcess) CloseHandle(process.hProcess);
  if (process.hThread) CloseHandle(process.hThread);
  return result;
}
