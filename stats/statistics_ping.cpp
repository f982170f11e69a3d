#include "stats/statistics_ping.h"

#include "download/download_session.h"
#include "base/bounded_string.h"
#include "base/build_config.h"
#include "base/heap.h"
#include "base/platform_libraries.h"
#include "base/sizes.h"
#include "base/system_library.h"
#include "stats/mac_id.h"
#include "stats/os_name.h"
#include "ui/progress_window.h"

// How a ping keeps to its bound.
//
// The request is made with WinINet's blocking calls on a thread of its
// own, while the calling thread waits for that thread and dispatches its
// messages, so the window answers and its Cancel is seen. Should the
// thread not have ended kPingDeadlineMs after the ping started, or Cancel
// be pressed, the waiting side closes the request's handles, which ends a
// blocking WinINet call, and gives the thread kPingGraceMs more. A thread
// that has still not ended is left to finish by itself: it uses nothing
// but its slot, which stays taken until it ends, and wininet.dll, which is
// then kept loaded for the rest of the process.
//
// Slots are static storage, so a thread that outlives the run has nothing
// to free. The thread makes all three handles, then offers the session in
// its slot while it sends; the side that takes the offer back closes all
// three. A waiting side that gives up first leaves a mark in the slot, so
// the thread closes its own handles without sending.

namespace {

const char kQueryFormat[] = "?method='fetchlet'&platform=pc&os=%s&macid=%s&type=%s";
constexpr size_t kQueryChars = 260;

constexpr DWORD kPingDeadlineMs = 7500;  // from the ping's start to the close of its handles
constexpr DWORD kPingGraceMs = 2000;     // for its thread to end after the close
static_assert(kPingDeadlineMs + kPingGraceMs <= kPingBoundMs, "a ping keeps to its bound");

// Each phase of the request has a time-out of its own as well, so that a
// request ends by itself where closing its handles does not end it.
constexpr DWORD kConnectTimeoutMs = 4000;
constexpr DWORD kSendTimeoutMs = 2000;
constexpr DWORD kReceiveTimeoutMs = 4000;

constexpr int kPingSlots = 3;  // the pings of a run

struct PingSlot {
  volatile LONG holds;  // 0: free; else the waiting side's and the thread's
  HINTERNET volatile offered;  // the session while the thread sends; GivenUp() once closed by the waiting side
  HINTERNET connection;        // both written before the session is offered
  HINTERNET request;
  const WinInetEntries* wininet;
  INTERNET_PORT port;
  DWORD flags;
  bool answered;  // the thread's; read once it has ended
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1];
  char object[INTERNET_MAX_URL_LENGTH + 1];  // path and query
};
PingSlot g_slots[kPingSlots];

HINTERNET GivenUp() { return reinterpret_cast<HINTERNET>(~static_cast<UINT_PTR>(0)); }

HINTERNET ExchangeOffer(PingSlot* ping, HINTERNET value, HINTERNET expected) {
  return static_cast<HINTERNET>(InterlockedCompareExchangePointer(
      reinterpret_cast<PVOID volatile*>(&ping->offered), value, expected));
}

const char* EventName(int event) {
  switch (event) {
    case kStatisticsStart:
      return "start";
    case kStatisticsFailed:
      return "failed";
    default:
      return "finished";
  }
}

// The time-outs are set on the connection handle, whose requests take them
// over; a request made with InternetOpenUrlA gets a connection of its own
// that no time-out set by the caller reaches.
bool SetTimeouts(const WinInetEntries* wininet, HINTERNET connection) {
  DWORD connect = kConnectTimeoutMs, send = kSendTimeoutMs, receive = kReceiveTimeoutMs;
  return wininet->InternetSetOptionA(connection, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect) &&
         wininet->InternetSetOptionA(connection, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send) &&
         wininet->InternetSetOptionA(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

void CloseAll(const WinInetEntries* wininet, HINTERNET request, HINTERNET connection, HINTERNET session) {
  if (request) wininet->InternetCloseHandle(request);
  if (connection) wininet->InternetCloseHandle(connection);
  if (session) wininet->InternetCloseHandle(session);
}

// One GET; nothing is read from the answer.
DWORD WINAPI PingThread(void* parameter) {
  PingSlot* ping = static_cast<PingSlot*>(parameter);
  const WinInetEntries* wininet = ping->wininet;
  HINTERNET session = wininet->InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET connection = session ? wininet->InternetConnectA(session, ping->host, ping->port, nullptr, nullptr,
                                                             INTERNET_SERVICE_HTTP, 0, 0)
                                 : nullptr;
  HINTERNET request = connection && SetTimeouts(wininet, connection)
                          ? wininet->HttpOpenRequestA(connection, "GET", ping->object, nullptr, nullptr, nullptr,
                                                      ping->flags, 0)
                          : nullptr;
  ping->connection = connection;
  ping->request = request;
  if (request && ExchangeOffer(ping, session, nullptr) == nullptr) {
    ping->answered = wininet->HttpSendRequestA(request, nullptr, 0, nullptr, 0) != FALSE;
    // Closed meanwhile by the waiting side, unless the offer is still there.
    if (ExchangeOffer(ping, nullptr, session) != session) session = connection = request = nullptr;
  }
  CloseAll(wininet, request, connection, session);
  InterlockedDecrement(&ping->holds);
  return 0;
}

// Waits for thread until limit ms after since, dispatching the calling
// thread's messages. False at the limit, and, when watching Cancel, as
// soon as the window's Cancel has been pressed.
bool WaitForThread(HANDLE thread, ProgressWindow* window, DWORD since, DWORD limit, bool watchCancel) {
  for (;;) {
    if (window) {
      window->PumpPendingMessages();
      if (watchCancel && window->IsCancelled()) return false;
    }
    const DWORD spent = GetTickCount() - since;
    if (spent >= limit) return false;
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, limit - spent, window ? QS_ALLINPUT : 0);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken == WAIT_FAILED) return false;
  }
}

// A thread given up may be inside wininet.dll until the process ends, so
// the library must outlive the run's own release of it. Systems without
// GetModuleHandleExA (Windows 2000) get a load that is never freed.
void KeepWinInetLoaded() {
  auto pin = FindKernel32EntryPoint<decltype(&GetModuleHandleExA)>("GetModuleHandleExA");
  HMODULE wininet = nullptr;
  if (!pin || !pin(GET_MODULE_HANDLE_EX_FLAG_PIN, "wininet.dll", &wininet)) LoadSystemLibrary("wininet.dll");
}

PingSlot* TakeSlot() {
  for (PingSlot& ping : g_slots)
    if (InterlockedCompareExchange(&ping.holds, 2, 0) == 0) return &ping;
  return nullptr;
}

// Fills a slot for the canonical URL; false when it is no HTTP or HTTPS
// URL, does not fit or WinINet is missing.
bool PrepareSlot(PingSlot* ping, const char* url) {
  ping->wininet = WinInet();
  if (ping->wininet == nullptr) return false;
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = ping->host;
  parts.dwHostNameLength = sizeof ping->host;
  parts.dwUrlPathLength = 1;  // the path is found in the URL itself, and the query follows it there
  if (!ping->wininet->InternetCrackUrlA(url, 0, 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  const char* object = parts.lpszUrlPath && *parts.lpszUrlPath ? parts.lpszUrlPath : "/";
  ping->port = parts.nPort;
  // Always to the server, and nothing of it kept in the URL cache (the
  // query names the machine).
  ping->flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
  return SUCCEEDED(BoundedCopy(ping->object, sizeof ping->object, object));
}

// Sends the request and waits for it within the bound; true when the
// server answered in time.
bool RequestUrl(const char* url, ProgressWindow* window, DWORD started) {
  PingSlot* ping = TakeSlot();
  if (ping == nullptr) return false;
  // The handles are read only once this ping's thread has offered them.
  ping->offered = nullptr;
  ping->answered = false;
  HANDLE thread = PrepareSlot(ping, url) ? CreateThread(nullptr, 0, PingThread, ping, 0, nullptr) : nullptr;
  if (thread == nullptr) {
    InterlockedExchange(&ping->holds, 0);
    return false;
  }
  bool ended = WaitForThread(thread, window, started, kPingDeadlineMs, true);
  if (!ended) {
    HINTERNET session = static_cast<HINTERNET>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&ping->offered), GivenUp()));
    if (session) CloseAll(ping->wininet, ping->request, ping->connection, session);
    ended = WaitForThread(thread, window, GetTickCount(), kPingGraceMs, false);
    if (!ended) KeepWinInetLoaded();
  }
  CloseHandle(thread);
  const bool answered = ended && ping->answered;
  InterlockedDecrement(&ping->holds);
  return answered;
}

}  // namespace

bool SendStatisticsPing(int event, ProgressWindow* window) {
  const DWORD started = GetTickCount();
  // Both probed afresh for every ping. A query that does not fit goes out
  // cut short: the probes' texts always fit.
  char query[kQueryChars] = {};
  char macId[kMacIdChars];
  GetMacId(macId);
  BoundedFormat(query, sizeof query, kQueryFormat, GetOsName(), macId, EventName(event));

  char* url = nullptr;
  DWORD urlSize = 0;
  if (ComposeUrl(kStatisticsBaseUrl, query, &url, &urlSize) != 0) return false;
  char* canonical = nullptr;
  bool outOfMemory = false;
  const DWORD error = CanonicalizeUrl(url, urlSize, &canonical, &outOfMemory);
  const bool answered = error == 0 && RequestUrl(canonical, window, started);
  FreeBuffer(canonical);
  FreeBuffer(url);
  return answered;
}
