#include <cstring>

#include "standin/standin.h"
#include "standin/win32.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IBindStatusCallback = {0x79eac9c1, 0xbaf9, 0x11ce, {0x8c, 0x82, 0x00, 0xaa, 0x00, 0x4b, 0xa9, 0x0b}};

namespace standin {
namespace {

// An interface a real binder asks the callback for and the installer does
// not offer (IHttpNegotiate).
const IID kHttpNegotiate = {0x79eac9d2, 0xbaf9, 0x11ce, {0x8c, 0x82, 0x00, 0xaa, 0x00, 0x4b, 0xa9, 0x0b}};

UrlmonState g_urlmon;
void ResetUrlmon() { g_urlmon = UrlmonState(); }
ResetHook urlmonHook(ResetUrlmon);

// What a binder does with the caller's callback: takes its own reference
// through QueryInterface, probes for an optional interface, reports the
// start, the notifications and the end, and drops its reference.
HRESULT Bind(IBindStatusCallback* callback) {
  void* object = nullptr;
  ++g_urlmon.queryInterfaceCalls;
  if (callback->QueryInterface(IID_IBindStatusCallback, &object) < 0 || object == nullptr) {
    g_urlmon.callbackQueryFailed = true;
    return E_NOINTERFACE;
  }
  IBindStatusCallback* bsc = static_cast<IBindStatusCallback*>(object);
  void* negotiate = reinterpret_cast<void*>(0x1);
  ++g_urlmon.queryInterfaceCalls;
  if (bsc->QueryInterface(kHttpNegotiate, &negotiate) >= 0 && negotiate)
    static_cast<IUnknown*>(negotiate)->Release();

  bsc->OnStartBinding(0, nullptr);
  DWORD bindFlags = 0;
  bsc->GetBindInfo(&bindFlags, nullptr);
  LONG priority = 0;
  bsc->GetPriority(&priority);

  HRESULT hr = g_urlmon.result;
  for (size_t i = 0; i < g_urlmon.notifications.size(); ++i) {
    if (g_urlmon.beforeNotification) g_urlmon.beforeNotification(i);
    const Notification& n = g_urlmon.notifications[i];
    HRESULT answer = bsc->OnProgress(n.progress, n.progressMax, n.code, u"");
    g_urlmon.progressResults.push_back(answer);
    if (answer == E_ABORT) {
      hr = E_ABORT;
      break;
    }
  }
  bsc->OnStopBinding(hr, nullptr);
  g_urlmon.refCountAfterRelease = bsc->Release();
  return hr;
}

}  // namespace

UrlmonState& Urlmon() { return g_urlmon; }

}  // namespace standin

using namespace standin;

HRESULT WINAPI URLDownloadToCacheFileA(LPUNKNOWN caller, LPCSTR url, LPSTR fileName, DWORD fileNameChars,
                                       DWORD reserved, LPBINDSTATUSCALLBACK callback) {
  g_urlmon.calls.push_back({url ? url : "", fileNameChars, reserved, caller != nullptr, callback != nullptr});
  Record("download", url ? url : "");
  if (!url || !fileName || fileNameChars == 0) return E_INVALIDARG;
  HRESULT hr = callback ? Bind(callback) : g_urlmon.result;
  if (hr < 0) return hr;
  const std::string& path = g_urlmon.cachePath;
  if (path.size() >= fileNameChars) return E_OUTOFMEMORY;  // the path does not fit the caller's buffer
  memcpy(fileName, path.c_str(), path.size() + 1);
  Wininet().cacheEntries.insert(url);
  return hr;
}
