#include "download/package_download.h"

#include <new>  // placement new only

#include "base/last_error.h"
#include "base/bounded_string.h"
#include "base/heap.h"
#include "base/platform_libraries.h"
#include "base/sizes.h"
#include "base/system_library.h"
#include "download/bind_status_callback.h"
#include "ui/progress_window.h"

// How the two threads share the work.
//
// The download thread starts with the record: it loads the download
// service, enters its COM apartment and makes its relay window while the
// installer's thread sends the start ping, then waits for
// RunPackageDownload to let it go. It calls URLDownloadToCacheFileA, which
// blocks it until the download ends, and hands the download service a
// DownloadWatch. The watch notes the time of every notification, counts
// requests and redirects, remembers the URLs and files the service names,
// and passes the data notifications on to the installer's thread, where
// CDownloadBindStatusCallback moves the progress bar: a sent message to
// that thread's relay window, answered with the callback's result.
//
// The installer's thread waits for the download thread while dispatching
// its own messages, so its window answers at once and Cancel is seen while
// no data arrives. On Cancel, or when no notification has come for
// kStallTimeoutMs, it asks the download to stop: the watch answers E_ABORT
// to the next notification, and the download thread's relay window calls
// IBinding::Abort on the binding the watch received in OnStartBinding.
// That call is made on the download thread, the binding's own: a message
// sent to its window is delivered whenever the download call looks at the
// thread's queue (PeekMessage and GetMessage deliver sent messages), and a
// posted message wakes a wait for input. Should the download thread still
// not end within kAbortGraceMs, the installer goes on without it and the
// thread frees the record when it is done.
//
// The record is counted: the installer's hold, the download thread's, and
// every reference the download service holds on the watch. The last one
// frees it, so nothing is freed while the other thread can use it.

namespace {

constexpr DWORD kWatchIntervalMs = 100;  // how often the installer's thread looks at the download
constexpr DWORD kAbortGraceMs = 5000;    // how long a download asked to stop gets to end
// Room for the URLs of the redirects followed, and the last URL asked for
// once more.
constexpr size_t kRedirectChars = (kMaxRedirects + 1) * (INTERNET_MAX_URL_LENGTH + 1) + 1;
constexpr UINT kRelayProgress = WM_APP + 1;     // to the installer's thread: a data notification
constexpr UINT kRelayAbort = WM_APP + 2;        // to the download thread: abort the binding
// Packages of 2^31 - 1 bytes and more are refused: the progress bar's
// range is an int, and urlmon's progress values do not carry such lengths
// (Wine reports 2^31 - 1 for any longer one).
constexpr ULONG kTooLargeBytes = 0x7FFFFFFF;
const char kRelayClass[] = "VexoDownloadRelay";

enum StopReason : LONG {
  kRunning = 0,
  kCancelled,
  kStalled,
  kTooManyRedirects,
  kServerError,
  kTooLarge,
};

// A data notification on its way to the installer's thread; it lives in
// the sender's frame, which waits for the answer.
struct ProgressNote {
  ULONG progress;
  ULONG progressMax;
  ULONG statusCode;
};

}  // namespace

// What the download service calls, on the download thread.
class DownloadWatch final : public IBindStatusCallback {
 public:
  void Attach(PackageDownload* owner) { owner_ = owner; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  PackageDownload* owner_ = nullptr;
};

struct PackageDownload {
  DownloadWatch watch;
  volatile LONG references;
  volatile LONG stopReason;    // a StopReason; set once
  volatile LONG lastActivity;  // GetTickCount() of the last notification
  HWND volatile threadWindow;  // the download thread's relay window while it exists
  HWND volatile watchWindow;   // the installer's thread's, in the interactive modes

  // The download thread's own.
  IBinding* binding;
  int relaying;  // a data notification is waiting for the installer's thread
  bool abortCalled;
  int requests;
  int redirects;

  // Written by the download thread; read by the installer's once that
  // thread has ended.
  HRESULT result;
  bool dataEnded;
  ULONG announced;  // the length the server announced, 0 when unknown
  ULONG received;   // what the end-of-data notification counted
  char cacheFile[kPathChars];
  char namedFile[kPathChars];
  char redirectUrls[kRedirectChars];  // each ended by a NUL; an empty one ends them
  size_t redirectChars;               // used of redirectUrls, without the empty one

  // Set by the installer's thread before the download thread starts.
  char* url;  // in the same block, after the record
  HANDLE go;  // set when the download thread may go on; closed with the record
  // The installer's hold on the download service, taken for it by the
  // download thread and given up at the installer's clean-up.
  HMODULE volatile urlmon;

  // The installer's thread's own.
  HANDLE thread;       // until the download thread has been waited for
  HRESULT startError;  // why there is no download thread
  IBindStatusCallback* progress;  // the interactive modes' callback, else null
  bool abandoned;
  bool succeeded;
};

namespace {

LONG ReadShared(volatile LONG& value) { return InterlockedCompareExchange(&value, 0, 0); }

// A handle slot both threads use: read, or replaced with the old value
// returned.
template <typename Handle>
Handle ReadSlot(Handle volatile& slot) {
  return static_cast<Handle>(InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&slot), nullptr, nullptr));
}

template <typename Handle, typename Value>
Handle ExchangeSlot(Handle volatile& slot, Value value) {
  return static_cast<Handle>(
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&slot), static_cast<Handle>(value)));
}

LONG AddHold(PackageDownload* download) { return InterlockedIncrement(&download->references); }

LONG DropHold(PackageDownload* download) {
  const LONG left = InterlockedDecrement(&download->references);
  if (left == 0) {
    if (download->go) CloseHandle(download->go);
    FreeBuffer(download);
  }
  return left;
}

void NoteActivity(PackageDownload* download) {
  InterlockedExchange(&download->lastActivity, static_cast<LONG>(GetTickCount()));
}

bool IsStopping(PackageDownload* download) { return ReadShared(download->stopReason) != kRunning; }

// The first reason given stays.
void AskToStop(PackageDownload* download, StopReason reason) {
  InterlockedCompareExchange(&download->stopReason, reason, kRunning);
}

// Makes the download thread abort its binding: a sent message for its relay
// window, and a posted one so that a wait for input wakes up to deliver it.
void WakeDownloadThread(PackageDownload* download) {
  HWND window = ReadSlot(download->threadWindow);
  if (!window) return;
  SendNotifyMessageA(window, kRelayAbort, 0, 0);
  PostMessageA(window, WM_NULL, 0, 0);
}

void NarrowInto(const wchar_t* text, char* buffer, int chars) {
  buffer[0] = '\0';
  if (text && WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, chars, nullptr, nullptr) == 0) buffer[0] = '\0';
}

LRESULT CALLBACK RelayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PackageDownload* download = reinterpret_cast<PackageDownload*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case kRelayProgress: {  // on the installer's thread
      if (!download || !download->progress) return S_OK;
      const ProgressNote* note = reinterpret_cast<const ProgressNote*>(lParam);
      return download->progress->OnProgress(note->progress, note->progressMax, note->statusCode, nullptr);
    }
    case kRelayAbort:  // on the download thread
      // Inside a relayed notification the watch answers E_ABORT itself as
      // soon as it returns.
      if (download && download->binding && download->relaying == 0 && !download->abortCalled) {
        download->abortCalled = true;
        download->binding->Abort();
      }
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// By each thread that makes a relay window (the second finds the class
// there); a class that cannot be registered leaves the windows uncreated.
void RegisterRelayClass() {
  WNDCLASSA relay = {};
  relay.lpfnWndProc = RelayWindowProc;
  relay.hInstance = GetModuleHandleA(nullptr);
  relay.lpszClassName = kRelayClass;
  RegisterClassA(&relay);
}

// A message-only window of the calling thread that relays to download.
HWND CreateRelayWindow(PackageDownload* download) {
  HWND window = CreateWindowExA(0, kRelayClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(download));
  return window;
}

DWORD WINAPI DownloadThread(void* parameter) {
  PackageDownload* download = static_cast<PackageDownload*>(parameter);
  // The thread's own hold on the library it runs in, and one for the
  // installer: the service may still call into it after the download call
  // has returned (an aborted request ends in the background), so it stays
  // until the installer's clean-up, however early this thread ends.
  HMODULE urlmon = LoadSystemLibrary("urlmon.dll");
  if (urlmon) ExchangeSlot(download->urlmon, LoadSystemLibrary("urlmon.dll"));
  auto downloadToCache = urlmon ? FindEntryPoint<decltype(&URLDownloadToCacheFileA)>(urlmon, "URLDownloadToCacheFileA")
                                : nullptr;
  HRESULT result = downloadToCache ? S_OK : HRESULT_FROM_WIN32(LastErrorOfFailure());
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // Without its window the download can still be stopped through the
  // watch's answers, and is otherwise left behind after the grace time.
  RegisterRelayClass();
  HWND relay = CreateRelayWindow(download);
  ExchangeSlot(download->threadWindow, relay);
  WaitForSingleObject(download->go, INFINITE);

  if (IsStopping(download))
    result = E_ABORT;
  else if (SUCCEEDED(result))
    result = downloadToCache(nullptr, download->url, download->cacheFile, static_cast<DWORD>(kPathChars), 0,
                             &download->watch);
  download->cacheFile[kPathChars - 1] = '\0';
  if (download->binding) {  // a service that never said OnStopBinding
    download->binding->Release();
    download->binding = nullptr;
  }
  download->result = result;

  ExchangeSlot(download->threadWindow, nullptr);
  if (relay) DestroyWindow(relay);
  if (SUCCEEDED(com)) CoUninitialize();
  if (urlmon) FreeLibrary(urlmon);
  DropHold(download);
  return 0;
}

// Delivers what waits in the calling thread's queue.
void PumpMessages(ProgressWindow* window) {
  if (window) {
    window->PumpPendingMessages();
    return;
  }
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Waits for the download thread, dispatching messages, until it has ended,
// or has been asked to stop and not ended within the grace time.
void WatchDownload(PackageDownload* download, HANDLE thread, ProgressWindow* window) {
  bool stopping = false;
  DWORD stopAskedAt = 0;
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, kWatchIntervalMs, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return;
    if (woken == WAIT_FAILED) Sleep(kWatchIntervalMs);
    PumpMessages(window);

    const DWORD now = GetTickCount();
    if (!stopping) {
      if (window && window->IsCancelled())
        AskToStop(download, kCancelled);
      else if (now - static_cast<DWORD>(ReadShared(download->lastActivity)) >= kStallTimeoutMs)
        AskToStop(download, kStalled);
      stopping = IsStopping(download);  // the watch may have stopped it too
      stopAskedAt = now;
    }
    if (stopping) {
      if (now - stopAskedAt >= kAbortGraceMs) {
        download->abandoned = true;
        return;
      }
      WakeDownloadThread(download);
    }
  }
}

// The HTTP status of the answer whose body begins to arrive; 0 when the
// binding cannot tell (another scheme, or a service without the interface).
DWORD HttpStatusOf(IBinding* binding) {
  IWinInetHttpInfo* info = nullptr;
  if (!binding || FAILED(binding->QueryInterface(IID_IWinInetHttpInfo, reinterpret_cast<void**>(&info))) || !info)
    return 0;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (info->QueryInfo(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr, nullptr) != S_OK)
    status = 0;
  info->Release();
  return status;
}

// Whether the cached file holds at least the length the server announced.
bool IsWholePackage(const PackageDownload* download) {
  if (download->announced == 0) return true;  // nothing to measure against
  if (download->dataEnded && download->received < download->announced) return false;
  WIN32_FILE_ATTRIBUTE_DATA file;
  if (!GetFileAttributesExA(download->cacheFile, GetFileExInfoStandard, &file)) return false;
  return file.nFileSizeHigh != 0 || file.nFileSizeLow >= download->announced;
}

HRESULT OutcomeOf(PackageDownload* download) {
  if (download->abandoned) return E_ABORT;
  switch (ReadShared(download->stopReason)) {
    case kCancelled:
      return E_ABORT;
    case kStalled:
      return HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT);
    case kTooManyRedirects:
      return HRESULT_FROM_WIN32(ERROR_HTTP_REDIRECT_FAILED);
    case kServerError:
      return INET_E_DOWNLOAD_FAILURE;
    case kTooLarge:
      return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  }
  if (FAILED(download->result)) return download->result;
  if (!IsWholePackage(download)) return INET_E_DOWNLOAD_FAILURE;
  return download->result;
}

// Notes a URL the download went on to (the last may be noted twice:
// announced, then seen answering; the package's own URL when it answered);
// one that does not fit is not noted.
void NoteUrl(PackageDownload* download, const char* url) {
  if (!url[0]) return;
  const size_t room = kRedirectChars - download->redirectChars - 1;
  char* end = download->redirectUrls + download->redirectChars;
  if (SUCCEEDED(BoundedCopy(end, room, url))) download->redirectChars += static_cast<size_t>(lstrlenA(url)) + 1;
  else end[0] = '\0';
}

__attribute__((noinline)) void NoteWideUrl(PackageDownload* download, const wchar_t* url) {
  char narrow[INTERNET_MAX_URL_LENGTH + 1];
  NarrowInto(url, narrow, static_cast<int>(sizeof narrow));
  NoteUrl(download, narrow);
}

// The URL of the request whose answer arrives, where the binding tells it:
// the end of a redirect chain the service did not announce. Some services
// answer in UTF-16 whatever the interface's text (a URL begins with an
// ASCII letter, so its second byte tells).
__attribute__((noinline)) void NoteAnsweringUrl(PackageDownload* download) {
  IWinInetInfo* info = nullptr;
  if (!download->binding ||
      FAILED(download->binding->QueryInterface(IID_IWinInetInfo, reinterpret_cast<void**>(&info))) || !info)
    return;
  // Zeroed, and told two bytes fewer: the text ends in a NUL of either width.
  char url[INTERNET_MAX_URL_LENGTH + 1] = {};
  DWORD size = sizeof url - 2;
  if (info->QueryOption(INTERNET_OPTION_URL, url, &size) == S_OK) {
    if (url[1] == '\0')
      NoteWideUrl(download, reinterpret_cast<const WCHAR*>(url));
    else
      NoteUrl(download, url);
  }
  info->Release();
}

}  // namespace

HRESULT STDMETHODCALLTYPE DownloadWatch::QueryInterface(REFIID riid, void** object) {
  return QueryBindStatusCallback(this, riid, object);
}

// The service's references hold the whole record.
ULONG STDMETHODCALLTYPE DownloadWatch::AddRef() { return static_cast<ULONG>(AddHold(owner_)); }

ULONG STDMETHODCALLTYPE DownloadWatch::Release() { return static_cast<ULONG>(DropHold(owner_)); }

HRESULT STDMETHODCALLTYPE DownloadWatch::OnStartBinding(DWORD, IBinding* binding) {
  NoteActivity(owner_);
  if (binding) {
    binding->AddRef();
    if (owner_->binding) owner_->binding->Release();
    owner_->binding = binding;
  }
  return IsStopping(owner_) ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadWatch::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                                    LPCWSTR statusText) {
  PackageDownload* download = owner_;
  NoteActivity(download);
  switch (statusCode) {
    case BINDSTATUS_SENDINGREQUEST:
      // One per request: the first, then one per redirect (some services
      // announce redirects only this way).
      if (++download->requests > kMaxRedirects + 1) AskToStop(download, kTooManyRedirects);
      break;
    case BINDSTATUS_REDIRECTING:
      // The new URL's entry may come to hold the package.
      NoteWideUrl(download, statusText);
      if (++download->redirects > kMaxRedirects) AskToStop(download, kTooManyRedirects);
      break;
    case BINDSTATUS_CACHEFILENAMEAVAILABLE:
      NarrowInto(statusText, download->namedFile, static_cast<int>(kPathChars));
      break;
    case BINDSTATUS_BEGINDOWNLOADDATA:
      download->announced = progressMax;
      NoteAnsweringUrl(download);
      // An error page is no package, whatever the service makes of it.
      if (HttpStatusOf(download->binding) >= 400) AskToStop(download, kServerError);
      break;
    case BINDSTATUS_ENDDOWNLOADDATA:
      if (progressMax != 0) download->announced = progressMax;
      download->received = progress;
      download->dataEnded = true;
      break;
  }
  const bool data = statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
                    statusCode == BINDSTATUS_ENDDOWNLOADDATA;
  if (data && (progressMax >= kTooLargeBytes || progress >= kTooLargeBytes)) AskToStop(download, kTooLarge);
  if (IsStopping(download)) return E_ABORT;

  HWND watchWindow = ReadSlot(download->watchWindow);
  if (data && watchWindow) {
    ProgressNote note = {progress, progressMax, statusCode};
    ++download->relaying;
    const LRESULT answer = SendMessageA(watchWindow, kRelayProgress, 0, reinterpret_cast<LPARAM>(&note));
    --download->relaying;
    if (static_cast<HRESULT>(answer) == E_ABORT) return E_ABORT;
  }
  return IsStopping(download) ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadWatch::OnStopBinding(HRESULT, LPCWSTR) {
  if (owner_->binding) {
    owner_->binding->Release();
    owner_->binding = nullptr;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadWatch::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  NoteActivity(owner_);
  return S_OK;
}

PackageDownload* CreatePackageDownload(const char* url) {
  const size_t urlChars = static_cast<size_t>(lstrlenA(url)) + 1;
  void* block = AllocateBuffer(sizeof(PackageDownload) + urlChars);
  if (!block) return nullptr;
  PackageDownload* download = new (block) PackageDownload();
  download->watch.Attach(download);
  download->references = 1;
  download->url = reinterpret_cast<char*>(download + 1);
  BoundedCopy(download->url, urlChars, url);

  // Without its thread the download fails when it is run, as a download
  // that cannot start would.
  download->go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (download->go) {
    AddHold(download);  // the download thread's
    download->thread = CreateThread(nullptr, 0, DownloadThread, download, 0, nullptr);
    if (!download->thread) DropHold(download);
  }
  if (!download->thread) download->startError = HRESULT_FROM_WIN32(LastErrorOfFailure());
  return download;
}

HRESULT RunPackageDownload(PackageDownload* download, CDownloadBindStatusCallback* progress) {
  if (!download->thread) return download->startError;

  // Without relay windows the bar stands still and a stop waits for the
  // next notification; the bounds stay the same.
  ProgressWindow* window = progress ? progress->Window() : nullptr;
  HWND relay = nullptr;
  if (progress) {
    RegisterRelayClass();
    relay = CreateRelayWindow(download);
  }
  download->progress = progress;
  ExchangeSlot(download->watchWindow, relay);

  NoteActivity(download);
  SetEvent(download->go);
  WatchDownload(download, download->thread, window);
  CloseHandle(download->thread);
  download->thread = nullptr;
  const HRESULT outcome = OutcomeOf(download);

  ExchangeSlot(download->watchWindow, nullptr);
  if (relay) DestroyWindow(relay);
  download->progress = nullptr;
  download->succeeded = SUCCEEDED(outcome);
  return outcome;
}

DownloadTrail TrailOf(const PackageDownload* download) {
  return {download->url, download->redirectUrls, download->succeeded ? download->cacheFile : "",
          download->namedFile, !download->thread && !download->abandoned};
}

void ReleasePackageDownload(PackageDownload* download) {
  if (!download) return;
  if (download->thread) {  // never run: the thread ends without downloading
    AskToStop(download, kCancelled);
    SetEvent(download->go);
    WaitForSingleObject(download->thread, kAbortGraceMs);
    CloseHandle(download->thread);
  }
  HMODULE urlmon = ExchangeSlot(download->urlmon, nullptr);
  if (urlmon) FreeLibrary(urlmon);
  DropHold(download);
}
