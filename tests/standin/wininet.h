// wininet for the host stand-in: URL canonicalisation, the URL cache entry
// removal and the plain GET of the statistics ping.
#ifndef VEXO_STANDIN_WININET_H
#define VEXO_STANDIN_WININET_H

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "standin/types.h"

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define ERROR_INTERNET_INVALID_URL 12005u
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007u
#define ERROR_INTERNET_CANNOT_CONNECT 12029u

BOOL WINAPI InternetCanonicalizeUrlA(LPCSTR url, LPSTR buffer, LPDWORD length, DWORD flags);
HINTERNET WINAPI InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags);
HINTERNET WINAPI InternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags,
                                  DWORD_PTR context);
BOOL WINAPI InternetCloseHandle(HINTERNET handle);
BOOL WINAPI DeleteUrlCacheEntryA(LPCSTR url);

namespace standin {

struct CanonicalizeCall {
  std::string url;
  DWORD length = 0;  // the buffer length passed in
  DWORD flags = 0;
};

struct InternetOpenCall {
  bool agentGiven = false;
  DWORD accessType = 0;
  bool proxyGiven = false;
  bool proxyBypassGiven = false;
  DWORD flags = 0;
};

struct OpenUrlCall {
  std::string url;
  bool headersGiven = false;
  DWORD headersLength = 0;
  DWORD flags = 0;
  DWORD_PTR context = 0;
  bool sessionLive = false;  // the session handle was an open one
};

struct WininetState {
  // The canonical form of every URL; unset: the platform's default, which
  // percent-escapes spaces, control characters and bytes above 0x7F.
  std::optional<std::string> canonicalText;
  // Per call, in order: 0 behaves as the platform does, anything else fails
  // the call with that error (122 also stores the size the text needs).
  std::deque<DWORD> canonicalizeErrors;
  std::vector<CanonicalizeCall> canonicalizeCalls;

  DWORD openError = 0;     // InternetOpenA fails with it
  DWORD openUrlError = 0;  // InternetOpenUrlA fails with it (name not resolved, refused ...)
  std::vector<InternetOpenCall> opens;
  std::vector<OpenUrlCall> requests;
  int closeCalls = 0;

  // URL-cache entries by URL: a successful download adds one.
  std::set<std::string> cacheEntries;
  std::vector<std::string> deletedCacheEntries;  // every DeleteUrlCacheEntryA, in order
};
WininetState& Wininet();

// The canonical form of url as the platform writes it with flags 0.
std::string DefaultCanonicalForm(const std::string& url);

}  // namespace standin

#endif
