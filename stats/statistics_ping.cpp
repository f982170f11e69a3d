#include "stats/statistics_ping.h"

#include "download/download_session.h"
#include "base/bounded_string.h"
#include "base/build_config.h"
#include "base/heap.h"
#include "base/platform_libraries.h"
#include "base/sizes.h"
#include "stats/mac_id.h"
#include "stats/os_name.h"

namespace {

const char kQueryFormat[] = "?method='fetchlet'&platform=pc&os=%s&macid=%s&type=%s";
constexpr size_t kQueryChars = 260;

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

// A statistics server that accepts the connection and never answers must
// not hold up the install: each ping gives up after at most 10 s in all.
// The time-outs are set on the connection handle, whose requests take them
// over; a request made with InternetOpenUrlA gets a connection of its own
// that no time-out set by the caller reaches.
constexpr DWORD kConnectTimeoutMs = 4000;
constexpr DWORD kSendTimeoutMs = 2000;
constexpr DWORD kReceiveTimeoutMs = 4000;
static_assert(kConnectTimeoutMs + kSendTimeoutMs + kReceiveTimeoutMs <= 10000, "a ping lasts at most 10 s");

bool SetTimeouts(const WinInetEntries* wininet, HINTERNET connection) {
  DWORD connect = kConnectTimeoutMs, send = kSendTimeoutMs, receive = kReceiveTimeoutMs;
  return wininet->InternetSetOptionA(connection, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect) &&
         wininet->InternetSetOptionA(connection, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send) &&
         wininet->InternetSetOptionA(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

// Sends one GET of the canonical URL and closes what it opened; nothing is
// read from the answer. True when the server answered. A ping whose
// time-outs cannot be set is not sent.
bool RequestUrl(const char* url) {
  const WinInetEntries* wininet = WinInet();
  if (wininet == nullptr) return false;

  // The host is copied out; the path is found in the URL itself, and the
  // query follows it there.
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.dwUrlPathLength = 1;
  if (!wininet->InternetCrackUrlA(url, 0, 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  const char* object = parts.lpszUrlPath && *parts.lpszUrlPath ? parts.lpszUrlPath : "/";
  // Always to the server, and nothing of it kept in the URL cache (the
  // query names the machine).
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;

  HINTERNET session = wininet->InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return false;
  bool answered = false;
  HINTERNET connection =
      wininet->InternetConnectA(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (connection != nullptr) {
    HINTERNET request = SetTimeouts(wininet, connection)
                            ? wininet->HttpOpenRequestA(connection, "GET", object, nullptr, nullptr, nullptr, flags, 0)
                            : nullptr;
    if (request != nullptr) {
      answered = wininet->HttpSendRequestA(request, nullptr, 0, nullptr, 0) != FALSE;
      wininet->InternetCloseHandle(request);
    }
    wininet->InternetCloseHandle(connection);
  }
  wininet->InternetCloseHandle(session);
  return answered;
}

}  // namespace

bool SendStatisticsPing(int event) { return SendStatisticsPingTo(kStatisticsBaseUrl, event); }

bool SendStatisticsPingTo(const char* baseUrl, int event) {
  char base[kTextChars] = {};
  if (FAILED(BoundedCopy(base, sizeof base, baseUrl))) return false;

  // Both probed afresh for every ping. A query that does not fit goes out
  // cut short: the probes' texts always fit.
  char query[kQueryChars] = {};
  char macId[kMacIdChars];
  GetMacId(macId);
  BoundedFormat(query, sizeof query, kQueryFormat, GetOsName(), macId, EventName(event));

  char* url = nullptr;
  DWORD urlSize = 0;
  if (ComposeUrl(base, query, &url, &urlSize) != 0) return false;
  char* canonical = nullptr;
  bool outOfMemory = false;
  const DWORD error = CanonicalizeUrl(url, urlSize, &canonical, &outOfMemory);
  const bool answered = error == 0 && RequestUrl(canonical);
  FreeBuffer(canonical);
  FreeBuffer(url);
  return answered;
}
