#include "stats/statistics_ping.h"

#include "download/download_session.h"
#include "base/bounded_string.h"
#include "driver/build_config.h"
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

// Sends the GET and closes what it opened; nothing is read from the answer.
bool RequestUrl(const char* url) {
  const WinInetEntries* wininet = WinInet();
  if (wininet == nullptr) return false;
  HINTERNET session = wininet->InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return false;
  HINTERNET request = wininet->InternetOpenUrlA(session, url, nullptr, 0, 0, 0);
  const bool answered = request != nullptr;
  if (request != nullptr) wininet->InternetCloseHandle(request);
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
