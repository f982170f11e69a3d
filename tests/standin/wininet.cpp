#include <cstdio>
#include <cstring>

#include "standin/standin.h"
#include "standin/win32.h"

namespace standin {
namespace {

WininetState g_wininet;
void ResetWininet() { g_wininet = WininetState(); }
ResetHook wininetHook(ResetWininet);

}  // namespace

WininetState& Wininet() { return g_wininet; }

std::string DefaultCanonicalForm(const std::string& url) {
  std::string out;
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F) {
      char escaped[4];
      snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace standin

using namespace standin;

// The platform's contract: *length is the buffer's size in characters on
// entry; on success it receives the length written (terminator excluded),
// on ERROR_INSUFFICIENT_BUFFER the size needed (terminator included).
BOOL WINAPI InternetCanonicalizeUrlA(LPCSTR url, LPSTR buffer, LPDWORD length, DWORD flags) {
  if (!url || !length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  g_wininet.canonicalizeCalls.push_back({url, *length, flags});
  std::string text = g_wininet.canonicalText ? *g_wininet.canonicalText : DefaultCanonicalForm(url);
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  DWORD error = 0;
  if (!g_wininet.canonicalizeErrors.empty()) {
    error = g_wininet.canonicalizeErrors.front();
    g_wininet.canonicalizeErrors.pop_front();
  }
  if (error == 0 && (!buffer || *length < needed)) error = ERROR_INSUFFICIENT_BUFFER;
  if (error != 0) {
    if (error == ERROR_INSUFFICIENT_BUFFER) *length = needed;
    SetLastError(error);
    return FALSE;
  }
  memcpy(buffer, text.c_str(), needed);
  *length = needed - 1;
  return TRUE;
}

HINTERNET WINAPI InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags) {
  g_wininet.opens.push_back({agent != nullptr, accessType, proxy != nullptr, proxyBypass != nullptr, flags});
  if (g_wininet.openError) {
    SetLastError(g_wininet.openError);
    return nullptr;
  }
  return NewHandle("internet session");
}

HINTERNET WINAPI InternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags,
                                  DWORD_PTR context) {
  bool live = IsLiveHandle(session) && HandleKind(session) == "internet session";
  g_wininet.requests.push_back({url ? url : "", headers != nullptr, headersLength, flags, context, live});
  Record("ping", url ? url : "");
  if (!live) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (g_wininet.openUrlError) {
    SetLastError(g_wininet.openUrlError);
    return nullptr;
  }
  return NewHandle("internet request");
}

BOOL WINAPI InternetCloseHandle(HINTERNET handle) {
  ++g_wininet.closeCalls;
  std::string kind = HandleKind(handle);
  if (kind != "internet session" && kind != "internet request") {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ReleaseHandle(handle);
  return TRUE;
}

BOOL WINAPI DeleteUrlCacheEntryA(LPCSTR url) {
  g_wininet.deletedCacheEntries.push_back(url ? url : "");
  Record("DeleteUrlCacheEntryA", url ? url : "");
  if (!url || g_wininet.cacheEntries.erase(url) == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}
